// Signs a small document as XAdES-BES with the npm packages xadesjs and
// xmldsigjs (run by gen.sh with NODE_PATH pointing at a throwaway install):
//   node gen_xadesjs.js KEY.p8.der CERT.der OUT.xml
// The enveloped reference, SigningCertificate and SigningTime are theirs.
const fs = require('fs');
const xmldom = require('@xmldom/xmldom');
const xpath = require('xpath');
const xadesjs = require('xadesjs');
const { Crypto } = require('@peculiar/webcrypto');

xadesjs.setNodeDependencies({
  XMLSerializer: xmldom.XMLSerializer,
  DOMParser: xmldom.DOMParser,
  DOMImplementation: xmldom.DOMImplementation,
  xpath,
});
const crypto = new Crypto();
xadesjs.Application.setEngine('NodeJS', crypto);

(async () => {
  const [keyFile, certFile, out] = process.argv.slice(2);
  const alg = { name: 'RSASSA-PKCS1-v1_5', hash: 'SHA-256' };
  const key = await crypto.subtle.importKey('pkcs8', fs.readFileSync(keyFile), alg, false, ['sign']);
  const cert = fs.readFileSync(certFile).toString('base64');
  const doc = xadesjs.Parse('<doc><data>npm</data></doc>');
  const signed = new xadesjs.SignedXml();
  await signed.Sign(alg, key, doc, {
    x509: [cert],
    signingCertificate: cert,
    signingTime: { value: new Date('2024-05-01T10:00:00Z') },
    references: [{ uri: '', hash: 'SHA-256', transforms: ['enveloped'] }],
  });
  doc.documentElement.appendChild(signed.GetXml());
  fs.writeFileSync(out, new xmldom.XMLSerializer().serializeToString(doc));
})().catch((e) => { console.error(e); process.exit(1); });
