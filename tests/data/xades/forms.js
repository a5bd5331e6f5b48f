// Assembles XAdES-T, -C, -X-L and -A documents over the PKI of ../upo: xadesjs
// signs (BES), xmldsigjs canonicalises, `openssl ts -reply` stamps (run by
// make_forms.sh with NODE_PATH at node/node_modules):
//   node forms.js PKI-DIR CRL-DIR WORK-DIR OUT-DIR
// Two layouts: "enveloped" (a document signed with the enveloped transform, no
// ds:Object besides the one holding the properties), where an archive
// time-stamp covers the same data under the 1.3.2 and the 1.4.1 rules, and
// "object" (the signed data in a ds:Object a ds:Reference names), which 1.3.2
// leaves out of the archive data and 1.4.1 takes in.
const fs = require('fs');
const path = require('path');
const cp = require('child_process');
const nodeCrypto = require('crypto');
const xmldom = require('@xmldom/xmldom');
const xpath = require('xpath');
const xadesjs = require('xadesjs');
const xmldsig = require('xmldsigjs');

const deps = { XMLSerializer: xmldom.XMLSerializer, DOMParser: xmldom.DOMParser,
               DOMImplementation: xmldom.DOMImplementation, xpath };
xadesjs.setNodeDependencies(deps);
xadesjs.Application.setEngine('NodeJS', globalThis.crypto);
xmldsig.Application.setEngine('NodeJS', globalThis.crypto);

const DS = 'http://www.w3.org/2000/09/xmldsig#';
const XADES = 'http://uri.etsi.org/01903/v1.3.2#';
const XADES141 = 'http://uri.etsi.org/01903/v1.4.1#';
const C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315';
const SHA256 = 'http://www.w3.org/2001/04/xmlenc#sha256';

const [pki, crls, work, out] = process.argv.slice(2);
const der = (f) => fs.readFileSync(path.join(pki, f));
const b64 = (b) => Buffer.from(b).toString('base64');
const sha256 = (b) => nodeCrypto.createHash('sha256').update(b).digest();

// Inclusive canonical octets of an element in its document: the namespaces its ancestors
// declare are in scope and rendered on it, so they go onto a copy canonicalised alone.
function c14n(node) {
  const copy = parse(serialize(node)).documentElement;
  for (let a = node.parentNode; a && a.nodeType === 1; a = a.parentNode)
    for (const attr of Array.from(a.attributes))
      if ((attr.name === 'xmlns' || attr.name.startsWith('xmlns:')) && !copy.hasAttribute(attr.name))
        copy.setAttributeNS('http://www.w3.org/2000/xmlns/', attr.name, attr.value);
  const t = new xmldsig.XmlDsigC14NTransform();
  t.LoadInnerXml(copy);
  return Buffer.from(t.GetOutput(), 'utf8');
}

const parse = (text) => new xmldom.DOMParser().parseFromString(text, 'application/xml');
const serialize = (node) => new xmldom.XMLSerializer().serializeToString(node);
const child = (parent, ns, name) => {
  for (let n = parent.firstChild; n; n = n.nextSibling)
    if (n.nodeType === 1 && n.namespaceURI === ns && n.localName === name) return n;
  return null;
};
const all = (doc, ns, name) => Array.from(doc.getElementsByTagNameNS(ns, name));

// A token of the test TSA over a SHA-256 digest made at the fixed time `when` (a signature
// time-stamp before the CRLs' thisUpdate, so they speak for it; an archive time-stamp after
// it, as it covers them: a CRL is no evidence at a time before it was issued), as base64.
let serial = 0;
function token(digest, when) {
  const q = path.join(work, `q${++serial}.tsq`), t = path.join(work, `t${serial}.der`);
  cp.execFileSync('openssl', ['ts', '-query', '-digest', digest.toString('hex'), '-sha256', '-cert',
                              '-no_nonce', '-out', q], { stdio: ['ignore', 'ignore', 'ignore'] });
  cp.execFileSync('faketime', [when, 'openssl', 'ts', '-reply', '-config', path.join(work, 'tsa.cnf'),
                               '-queryfile', q, '-token_out', '-out', t], { stdio: ['ignore', 'ignore', 'ignore'] });
  return b64(fs.readFileSync(t));
}

async function sign(layout) {
  const alg = { name: 'RSASSA-PKCS1-v1_5', hash: 'SHA-256' };
  const pem = fs.readFileSync(path.join(pki, 'signer-rsa.key'));
  const p8 = nodeCrypto.createPrivateKey(pem).export({ type: 'pkcs8', format: 'der' });
  const key = await globalThis.crypto.subtle.importKey('pkcs8', p8, alg, false, ['sign']);
  const cert = b64(der('signer-rsa.der'));
  const signed = new xadesjs.SignedXml();
  const options = { x509: [cert], signingCertificate: cert,
                    signingTime: { value: new Date('2026-11-02T09:15:00Z') } };
  let doc;
  if (layout === 'enveloped') {
    doc = xadesjs.Parse('<Dokument><Kwota>1234.00</Kwota></Dokument>');
    options.references = [{ uri: '', hash: 'SHA-256', transforms: ['enveloped', 'c14n'] }];
  } else {
    doc = xadesjs.Parse('<Pusty/>');
    const object = new xmldsig.DataObject();
    object.LoadXml(parse(`<ds:Object xmlns:ds="${DS}" Id="Dokument-0"><Potwierdzenie ` +
                         `xmlns="urn:test:upo"><Numer>42</Numer></Potwierdzenie></ds:Object>`).documentElement);
    signed.XmlSignature.ObjectList.Add(object);
    options.references = [{ uri: '#Dokument-0', hash: 'SHA-256', transforms: ['c14n'] }];
  }
  await signed.Sign(alg, key, doc, options);
  const sig = signed.GetXml();
  if (layout === 'enveloped') {
    doc.documentElement.appendChild(sig);
    return parse(serialize(doc));
  }
  return parse(serialize(sig));
}

// The octets each ds:Reference's transforms give, checked against its DigestValue.
function referencedData(doc) {
  const signature = all(doc, DS, 'Signature')[0];
  const outs = [];
  for (const ref of all(doc, DS, 'Reference')) {
    const uri = ref.getAttribute('URI');
    let data;
    if (uri === '') {  // enveloped, then canonical: the document less the signature
      const copy = parse(serialize(doc));
      const s = all(copy, DS, 'Signature')[0];
      s.parentNode.removeChild(s);
      data = c14n(copy.documentElement);
    } else {
      const id = uri.substring(1);
      const target = xpath.select(`//*[@Id='${id}']`, signature)[0];
      data = c14n(target);
    }
    const value = child(ref, DS, 'DigestValue').textContent;
    if (b64(sha256(data)) !== value) throw new Error(`reference ${uri}: not the signed data`);
    outs.push(data);
  }
  return outs;
}

const el = (doc, ns, qname, text) => {
  const e = doc.createElementNS(ns, qname);
  if (text !== undefined) e.appendChild(doc.createTextNode(text));
  return e;
};

function unsignedSignatureProperties(doc) {
  const qp = all(doc, XADES, 'QualifyingProperties')[0];
  let up = child(qp, XADES, 'UnsignedProperties');
  if (!up) up = qp.appendChild(el(doc, XADES, 'xades:UnsignedProperties'));
  let usp = child(up, XADES, 'UnsignedSignatureProperties');
  if (!usp) usp = up.appendChild(el(doc, XADES, 'xades:UnsignedSignatureProperties'));
  return usp;
}

function timeStampElement(doc, ns, qname, tokenB64) {
  const e = el(doc, ns, qname);
  const m = e.appendChild(el(doc, DS, 'ds:CanonicalizationMethod'));
  m.setAttribute('Algorithm', C14N);
  e.appendChild(el(doc, XADES, 'xades:EncapsulatedTimeStamp', tokenB64));
  return e;
}

function addSignatureTimeStamp(doc) {
  const sv = all(doc, DS, 'SignatureValue')[0];
  unsignedSignatureProperties(doc).appendChild(
      timeStampElement(doc, XADES, 'xades:SignatureTimeStamp',
                       token(sha256(c14n(sv)), '2026-11-02 10:00:00')));
}

function digestOf(doc, data) {
  const d = el(doc, XADES, 'xades:DigestAlgAndValue');
  d.appendChild(el(doc, DS, 'ds:DigestMethod')).setAttribute('Algorithm', SHA256);
  d.appendChild(el(doc, DS, 'ds:DigestValue', b64(sha256(data))));
  return d;
}

// CompleteCertificateRefs (the intermediate and the root, as xadesjs writes a
// signing certificate) and CompleteRevocationRefs (their CRLs).
function addCompleteRefs(doc) {
  const usp = unsignedSignatureProperties(doc);
  const certRefs = usp.appendChild(el(doc, XADES, 'xades:CompleteCertificateRefs'))
                      .appendChild(el(doc, XADES, 'xades:CertRefs'));
  for (const name of ['intermediate.der', 'root.der']) {
    const c = new xmldsig.X509Certificate(der(name));
    const cert = certRefs.appendChild(el(doc, XADES, 'xades:Cert'));
    const digest = cert.appendChild(el(doc, XADES, 'xades:CertDigest'));
    digest.appendChild(el(doc, DS, 'ds:DigestMethod')).setAttribute('Algorithm', SHA256);
    digest.appendChild(el(doc, DS, 'ds:DigestValue', b64(sha256(der(name)))));
    const is = cert.appendChild(el(doc, XADES, 'xades:IssuerSerial'));
    is.appendChild(el(doc, DS, 'ds:X509IssuerName', c.Issuer));
    is.appendChild(el(doc, DS, 'ds:X509SerialNumber', c.SerialNumber));
  }
  const crlRefs = usp.appendChild(el(doc, XADES, 'xades:CompleteRevocationRefs'))
                     .appendChild(el(doc, XADES, 'xades:CRLRefs'));
  for (const [file, issuer, issued] of crlList) {
    const ref = crlRefs.appendChild(el(doc, XADES, 'xades:CRLRef'));
    ref.appendChild(digestOf(doc, fs.readFileSync(path.join(crls, file))));
    const id = ref.appendChild(el(doc, XADES, 'xades:CRLIdentifier'));
    id.appendChild(el(doc, XADES, 'xades:Issuer', issuer));
    id.appendChild(el(doc, XADES, 'xades:IssueTime', issued));
  }
}

function addValues(doc) {
  const usp = unsignedSignatureProperties(doc);
  const cv = usp.appendChild(el(doc, XADES, 'xades:CertificateValues'));
  for (const name of ['intermediate.der', 'root.der'])
    cv.appendChild(el(doc, XADES, 'xades:EncapsulatedX509Certificate', b64(der(name))));
  const crlValues = usp.appendChild(el(doc, XADES, 'xades:RevocationValues'))
                       .appendChild(el(doc, XADES, 'xades:CRLValues'));
  for (const [file] of crlList)
    crlValues.appendChild(el(doc, XADES, 'xades:EncapsulatedCRLValue',
                             b64(fs.readFileSync(path.join(crls, file)))));
}

// The archive data under the 1.3.2 or the 1.4.1 rule: the referenced data, SignedInfo,
// SignatureValue, KeyInfo, the unsigned properties before the archive time-stamps, then the
// ds:Objects other than the properties' holder (1.3.2: only those no ds:Reference names).
const COVERED = ['SignatureTimeStamp', 'CounterSignature', 'CompleteCertificateRefs',
                 'CompleteRevocationRefs', 'AttributeCertificateRefs', 'AttributeRevocationRefs',
                 'SigAndRefsTimeStamp', 'RefsOnlyTimeStamp', 'CertificateValues', 'RevocationValues'];
function archiveData(doc, rule) {
  const signature = all(doc, DS, 'Signature')[0];
  const parts = referencedData(doc);
  for (const name of ['SignedInfo', 'SignatureValue', 'KeyInfo']) {
    const e = child(signature, DS, name);
    if (e) parts.push(c14n(e));
  }
  const usp = unsignedSignatureProperties(doc);
  for (let n = usp.firstChild; n; n = n.nextSibling)
    if (n.nodeType === 1 && n.namespaceURI === XADES && COVERED.includes(n.localName)) parts.push(c14n(n));
  const named = new Set(all(doc, DS, 'Reference').map((r) => r.getAttribute('URI'))
                         .filter((u) => u.startsWith('#')).map((u) => u.substring(1)));
  for (let n = signature.firstChild; n; n = n.nextSibling) {
    if (n.nodeType !== 1 || n.namespaceURI !== DS || n.localName !== 'Object') continue;
    if (child(n, XADES, 'QualifyingProperties')) continue;
    if (rule === '1.3.2' && named.has(n.getAttribute('Id'))) continue;
    parts.push(c14n(n));
  }
  return Buffer.concat(parts);
}

// An ArchiveTimeStamp in the namespace of `ns` over the data of `rule`.
function addArchiveTimeStamp(doc, ns, rule) {
  const prefix = ns === XADES ? 'xades' : 'xades141';
  unsignedSignatureProperties(doc).appendChild(
      timeStampElement(doc, ns, `${prefix}:ArchiveTimeStamp`,
                       token(sha256(archiveData(doc, rule)), '2026-11-03 12:00:00')));
}

const write = (doc, name) => fs.writeFileSync(path.join(out, name), serialize(doc));
let crlList;

(async () => {
  crlList = JSON.parse(fs.readFileSync(path.join(work, 'crls.json'), 'utf8'));
  const agree = {};
  for (const layout of ['enveloped', 'object']) {
    const doc = await sign(layout);
    referencedData(doc);  // our reading of xadesjs's references
    addSignatureTimeStamp(doc);
    write(doc, `${layout}-t.xml`);
    addCompleteRefs(doc);
    write(doc, `${layout}-c.xml`);
    addValues(doc);
    const xl = serialize(doc);
    write(doc, `${layout}-xl.xml`);
    agree[layout] = archiveData(doc, '1.3.2').equals(archiveData(doc, '1.4.1'));
    for (const [ns, rule, name] of [[XADES, '1.3.2', 'a132'], [XADES141, '1.4.1', 'a141'],
                                    [XADES141, '1.3.2', 'a141-by-132']]) {
      const a = parse(xl);
      addArchiveTimeStamp(a, ns, rule);
      write(a, `${layout}-${name}.xml`);
    }
  }
  if (!agree.enveloped || agree.object) throw new Error('layouts do not show the two rules as meant');
})().catch((e) => { console.error(e); process.exit(1); });
