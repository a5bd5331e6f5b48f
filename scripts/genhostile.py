#!/usr/bin/env python3
# Hostile variants of a receipt (tests/data/upo/upo.xml) for scripts/hostile-receipts.py:
# deep and wide trees, attributes and namespace declarations by the ten thousand, XPath
# filters over 100,000 elements, entity bombs, external entities, 10,000 references, many
# Ids under 1,000 references, base64 texts up to 50 MB, long literals and prefixes in
# XPointers and filters, long prefixes declared at the root under a filter's canonicaliser;
# and, for the work allowance of a whole document, signatures by keys of 16,384 bits, impostors
# of the trusted intermediate under a CRL, thousands of references to one text or to the whole
# document, a tag of 50,000 attributes the example's own reader parses, certificates of one
# serial under look-alike issuers carried by the signature or by an OCSP response, a thousand
# references naming the last of a thousand carried OCSP responses, CRLs or certificates, and
# 1,024 archive time-stamps (VARIANTS).
#   genhostile.py RECEIPT.xml OUT_FOLDER [--large]   all, or the allowance's at large counts
#   genhostile.py VARIANT [--count N] OUT.xml          one of VARIANTS (the sample receipt's)
import base64, hashlib, os, re, subprocess, sys
def write_classic(src, out):
    """The variants made before the document-wide allowance, as files in the folder out."""
    OBJ = '<pot:Potwierdzenie xmlns:pot="http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/">'
    assert OBJ in src
    def inject(payload, where=OBJ):
        # payload goes inside the signed object, right after its root start tag
        return src.replace(where, where + payload, 1)
    def w(name, text):
        with open(os.path.join(out, name), 'w', encoding='utf-8') as f: f.write(text)
    w('00-baseline.xml', src)
    # 1. 5 MB of nested elements
    n = 5*1024*1024 // 7
    w('01-nested-5MB.xml', inject('<a>'*n + '</a>'*n))
    # 1b. nested just under libxml2's default depth in the object (about 250 levels), repeated to 5 MB
    blk = '<a>'*200 + 'x' + '</a>'*200
    w('01b-nested200-x-5MB.xml', inject(blk * (5*1024*1024 // len(blk))))
    # 2. 200,000 siblings
    w('02-siblings-200k.xml', inject('<e/>'*200000))
    # 3. 50,000 attributes on one element
    w('03-attrs-50k.xml', inject('<e ' + ' '.join('a%d="v"' % i for i in range(50000)) + '/>'))
    # 3b. 50,000 attributes spread: 250 per element on 200 elements (just under cap)
    w('03b-attrs-250x200.xml', inject(''.join('<e ' + ' '.join('a%d="v"' % i for i in range(250)) + '/>' for _ in range(200))))
    # 4. 10,000 namespace declarations on one element
    w('04-nsdecl-10k.xml', inject('<e ' + ' '.join('xmlns:n%d="urn:n%d"' % (i, i) for i in range(10000)) + '/>'))
    # 4b. 10,000 namespace declarations as 250 per element nested 40 deep (in scope grows)
    w('04b-nsdecl-250x40-nested.xml', inject(''.join('<e ' + ' '.join('xmlns:n%d_%d="urn:n%d"' % (j, i, i) for i in range(250)) + '>' for j in range(40)) + '</e>'*40))
    # 4c. 10,000 namespace declarations 200 per element on 50 sibling elements
    w('04c-nsdecl-200x50-siblings.xml', inject(''.join('<e ' + ' '.join('xmlns:n%d="urn:n%d"' % (i, i) for i in range(200)) + '/>' for j in range(50))))
    # 5. XPath filter transform over a 100,000-element document (whole-document reference)
    XP = ('<ds:Reference URI=""><ds:Transforms><ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116">'
          '<ds:XPath>not(ancestor-or-self::ds:Signature) or count(//*) &gt; 0</ds:XPath></ds:Transform>'
          '<ds:Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></ds:Transforms>'
          '<ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue>AAAA</ds:DigestValue></ds:Reference>')
    s5 = inject('<e/>'*100000).replace('<ds:Reference URI="#Dokument-0"', XP + '<ds:Reference URI="#Dokument-0"', 1)
    w('05-xpath-count-100k.xml', s5)
    XP2 = XP.replace('not(ancestor-or-self::ds:Signature) or count(//*) &gt; 0', 'not(ancestor-or-self::ds:Signature)')
    w('05b-xpath-enveloped-100k.xml', inject('<e/>'*100000).replace('<ds:Reference URI="#Dokument-0"', XP2 + '<ds:Reference URI="#Dokument-0"', 1))
    XP3 = ('<ds:Reference URI=""><ds:Transforms><ds:Transform Algorithm="http://www.w3.org/2002/06/xmldsig-filter2">'
           '<dsig-xpath:XPath xmlns:dsig-xpath="http://www.w3.org/2002/06/xmldsig-filter2" Filter="subtract">//*[preceding::*]</dsig-xpath:XPath></ds:Transform>'
           '</ds:Transforms><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue>AAAA</ds:DigestValue></ds:Reference>')
    w('05c-xpath2-preceding-100k.xml', inject('<e/>'*100000).replace('<ds:Reference URI="#Dokument-0"', XP3 + '<ds:Reference URI="#Dokument-0"', 1))
    XP4 = XP.replace('not(ancestor-or-self::ds:Signature) or count(//*) &gt; 0', 'count(preceding::node()) &gt;= 0')
    w('05d-xpath-preceding-100k.xml', inject('<e/>'*100000).replace('<ds:Reference URI="#Dokument-0"', XP4 + '<ds:Reference URI="#Dokument-0"', 1))
    # 6. entity bombs
    decl = '<?xml version="1.0" encoding="UTF-8"?>'
    body = src[len(decl):]
    lol = ''.join('<!ENTITY l%d "%s">\n' % (i, ('&l%d;' % (i-1))*10 if i else 'lol') for i in range(10))
    w('06-billion-laughs.xml', decl + '<!DOCTYPE ds:Signature [\n' + lol + ']>' + body.replace(OBJ, OBJ + '<b>&l9;</b>', 1))
    big = 'A'*60000
    w('06b-quadratic-blowup.xml', decl + '<!DOCTYPE ds:Signature [<!ENTITY a "' + big + '">]>' + body.replace(OBJ, OBJ + '<b>' + '&a;'*60000 + '</b>', 1))
    w('06c-attr-entity-laughs.xml', decl + '<!DOCTYPE ds:Signature [\n' + lol + ']>' + body.replace(OBJ, OBJ + '<b x="&l7;"/>', 1))
    w('06d-param-entity-laughs.xml', decl + '<!DOCTYPE ds:Signature [\n' + ''.join('<!ENTITY %% p%d "%s">\n' % (i, ('&#37;p%d;' % (i-1))*10 if i else 'x') for i in range(8)) + '%p7;]>' + body)
    # 7. external entities and DTD tricks
    w('07-xxe-file.xml', decl + '<!DOCTYPE ds:Signature [<!ENTITY x SYSTEM "file:///etc/passwd">]>' + body.replace(OBJ, OBJ + '<b>&x;</b>', 1))
    w('07b-xxe-http.xml', decl + '<!DOCTYPE ds:Signature [<!ENTITY x SYSTEM "http://127.0.0.1:9/x">]>' + body.replace(OBJ, OBJ + '<b>&x;</b>', 1))
    w('07c-external-dtd.xml', decl + '<!DOCTYPE ds:Signature SYSTEM "file:///etc/passwd">' + body)
    w('07d-param-xxe.xml', decl + '<!DOCTYPE ds:Signature [<!ENTITY % p SYSTEM "file:///etc/passwd"> %p;]>' + body)
    w('07e-xinclude.xml', inject('<xi:include xmlns:xi="http://www.w3.org/2001/XInclude" href="file:///etc/passwd" parse="text"/>'))
    w('07f-dev-zero.xml', decl + '<!DOCTYPE ds:Signature [<!ENTITY x SYSTEM "file:///dev/zero">]>' + body.replace(OBJ, OBJ + '<b>&x;</b>', 1))
    w('07g-dtd-id-hijack.xml', decl + '<!DOCTYPE ds:Signature [<!ATTLIST e myid ID #IMPLIED><!ATTLIST pot:Potwierdzenie Id ID "Dokument-0">]>' + body.replace(OBJ, OBJ + '<e myid="Dokument-0"/>', 1))
    w('07h-default-attrs-many.xml', decl + '<!DOCTYPE ds:Signature [<!ATTLIST e ' + ' '.join('d%d CDATA "v"' % i for i in range(5000)) + '>]>' + body.replace(OBJ, OBJ + '<e/>'*2000, 1))
    # 8. 10,000 references
    m = re.search(r'<ds:Reference URI="#Dokument-0".*?</ds:Reference>', src)
    w('08-refs-10k.xml', src.replace(m.group(0), m.group(0)*10000, 1))
    # 8b. 10,000 references each with an XPath filter over the object
    refx = m.group(0).replace('<ds:Transforms>', '<ds:Transforms><ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116"><ds:XPath>count(//*) &gt;= 0</ds:XPath></ds:Transform>', 1)
    w('08b-refs-10k-xpath.xml', src.replace(m.group(0), refx*10000, 1))
    # 8c. 10,000 references to the whole document URI=""
    refw = m.group(0).replace('URI="#Dokument-0"', 'URI=""', 1)
    w('08c-refs-10k-whole-doc.xml', src.replace(m.group(0), refw*10000, 1))
    # 8d, 8e. 1,000 references over a document of 50,000 / 200,000 elements carrying Ids (the Id lookup per reference)
    for tag, n in (('08d-refs-1000-ids-50k.xml', 50000), ('08e-refs-1000-ids-200k.xml', 200000)):
        many = src.replace(m.group(0), m.group(0)*1000, 1)
        w(tag, many.replace(OBJ, OBJ + ''.join('<e Id="i%d"/>' % i for i in range(n)), 1))
    # 9. 50 MB base64 text node (in the signed object; and as the certificate)
    b64 = base64.encodebytes(os.urandom(37*1024*1024)).decode()
    w('09-b64-50MB-object.xml', inject('<b>' + b64 + '</b>'))
    cert = re.search(r'<ds:X509Certificate>(.*?)</ds:X509Certificate>', src, re.S)
    w('09b-b64-50MB-cert.xml', src.replace(cert.group(1), b64, 1))
    w('09c-b64-20MB-object.xml', inject('<b>' + b64[:20*1024*1024] + '</b>'))
    # 10. Work libxml2 does per unit of string: an internal subset, an unsigned ds:Object of 240
    # nested prefixed elements (prefix and name 8 to 1,000 characters) around 20,000-40,000 <l/>,
    # and references whose XPointer (or XPath filter) calls lang() there: each call walks the
    # ancestors, and libxml2's own looks up the DTD with the element's qualified name at each.
    def extra(payload, refs, doctype='<!DOCTYPE ds:Signature [<!ATTLIST l x CDATA #IMPLIED>]>'):
        s = src.replace('</ds:Signature>', '<ds:Object>' + payload + '</ds:Object></ds:Signature>', 1)
        s = s.replace('<ds:Reference URI="#Dokument-0"', refs + '<ds:Reference URI="#Dokument-0"', 1)
        return decl + doctype + s[len(decl):] if doctype else s
    def ref(uri, transforms=''):
        return ('<ds:Reference URI="%s"><ds:Transforms>%s<ds:Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>'
                '</ds:Transforms><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/>'
                '<ds:DigestValue>AAAA</ds:DigestValue></ds:Reference>' % (uri, transforms))
    def nested(length, leaves):
        name = 'p' + 'q' * (length - 1) + ':' + 'n' * length
        prefix = name.split(':')[0]
        return ''.join('<%s xmlns:%s="urn:p">' % (name, prefix) for _ in range(240)) + '<l/>' * leaves + ('</%s>' % name) * 240
    LANG = ref("#xpointer(//l[lang('pl')])")
    for tag, length, leaves in (('10-lang-names-8.xml', 8, 40000), ('10b-lang-names-100.xml', 100, 40000),
                                ('10c-lang-names-1000.xml', 1000, 20000)):
        w(tag, extra(nested(length, leaves), LANG))
    w('10d-lang-five-refs.xml', extra(nested(100, 40000), LANG * 5))
    w('10e-xpath-lang.xml', extra(nested(100, 20000), ref('', '<ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116">'
                                                            "<ds:XPath>lang('pl')</ds:XPath></ds:Transform>")))
    # 11. The namespace axis over prefixes of 1,000-2,000 characters that share all but their last
    # three, declared in scope of 2,000 elements.
    for tag, count, length, axis in (('11-ns-100x1000.xml', 100, 1000, 'namespace::*'),
                                     ('11b-ns-50x2000.xml', 50, 2000, 'namespace::x')):
        decls = ''.join(' xmlns:%s%03d="urn:n"' % ('p' * (length - 3), i) for i in range(count))
        w(tag, extra('<k%s>' % decls + '<l/>' * 2000 + '</k>', ref('#xpointer(//l[%s])' % axis), doctype=None))
    # 12. Strings of the expression libxml2 reads at every evaluation: a literal of 3,900 digits
    # negated (copied and read as a number) at each of 75,000 <l>, by one and by twelve references;
    # a step's prefix of 3,900 octets (declared on the reference, so libxml2 finds it) looked up at
    # each <l>; XPath filters whose literal is copied at each of 230,000 nodes (77,000 elements and
    # their namespace nodes), one and two references.
    digits = '0' * 3899 + '1'
    ls = '<l/>' * 75000
    w('12-literal-3900.xml', extra(ls, ref("#xpointer(//l[-'%s'])" % digits), doctype=None))
    w('12b-literal-3900-12refs.xml', extra(ls, ref("#xpointer(//l[-'%s'])" % digits) * 12, doctype=None))
    P = 'P' * 3900
    w('12c-prefix-3900.xml', extra(ls, ref('#xpointer(//l[%s:x])' % P).replace(
        '<ds:Reference ', '<ds:Reference xmlns:%s="urn:p" ' % P, 1), doctype=None))
    Z = "'Z" + '0' * 3899 + "'"
    def filtered(expression):
        return ref('', '<ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116">'
                   '<ds:XPath>%s</ds:XPath></ds:Transform>' % expression)
    es = '<e/>' * 77000  # with their namespace nodes (ds, xml) some 230,000 nodes
    w('12d-filter-literal-negated.xml', extra(es, filtered('-' + Z), doctype=None))
    w('12e-filter-literal-equals.xml', extra(es, filtered(Z + ' = 1'), doctype=None))
    w('12f-filter-literal-2refs.xml', extra(es, filtered('-' + Z) * 2, doctype=None))
    # 13. The canonicaliser of a filter's node set: URI="" with the filter 1 or true() over a
    # receipt whose root declares 100 prefixes of 1,000 characters sharing their start, above
    # 2,000 elements (its namespace stack searches compare the long prefixes).
    roots = ''.join(' xmlns:%s%03d="urn:n%d"' % ('q' * 997, i, i) for i in range(100))
    ROOT = '<ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#"'
    assert ROOT in src
    for tag, expression in (('13-c14n-prefixes-filter-1.xml', '1'), ('13b-c14n-prefixes-filter-true.xml', 'true()')):
        w(tag, extra('<e/>' * 2000, filtered(expression), doctype=None).replace(ROOT, ROOT + roots, 1))


# The document-wide allowance: work an attacker causes with no private key (every signature,
# certificate and CRL below is garbage where a signature is due), each builder a function of
# its count returning the receipt's text, so that a test can make it small and a hand run large.
HERE = os.path.dirname(os.path.abspath(__file__))
PKI = os.path.join(HERE, '..', 'tests', 'data', 'upo', 'pki')
sys.path.insert(0, os.path.join(HERE, '..', 'tests', 'data', 'xmlsig', 'xades'))
from xades_extend import tlv  # noqa: E402  (a DER value's bounds)
import xades_extend  # noqa: E402  (canonical forms of elements)
DS = 'http://www.w3.org/2000/09/xmldsig#'
SHA256 = 'http://www.w3.org/2001/04/xmlenc#sha256'
RSA_SHA256 = 'http://www.w3.org/2001/04/xmldsig-more#rsa-sha256'
C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'
DECL = '<?xml version="1.0" encoding="UTF-8"?>'


def der(tag, body):
    n = len(body)
    if n < 0x80:
        return bytes([tag, n]) + body
    octets = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([tag, 0x80 | len(octets)]) + octets + body


def seq(*parts):
    return der(0x30, b''.join(parts))


def integer(value):
    return der(0x02, value.to_bytes(value.bit_length() // 8 + 1, 'big'))


def oid(dotted):
    arcs = [int(a) for a in dotted.split('.')]
    body = bytes([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7f]
        while arc > 0x7f:
            arc >>= 7
            chunk.insert(0, 0x80 | (arc & 0x7f))
        body += bytes(chunk)
    return der(0x06, body)


def bits(octets):
    return der(0x03, b'\0' + octets)


SHA256_RSA = seq(oid('1.2.840.113549.1.1.11'), der(0x05, b''))


def name(common):
    return seq(der(0x31, seq(oid('2.5.4.3'), der(0x0c, common.encode()))))


def names_of(path):
    """Issuer and subject Name (DER) of a certificate file."""
    data = open(path, 'rb').read()
    start, _ = tlv(data, 0)               # Certificate
    at, _ = tlv(data, start)              # TBSCertificate
    fields = []
    while len(fields) < 6:
        _, end = tlv(data, at)
        fields.append(data[at:end])
        at = end
    return fields[3], fields[5]           # after version, serial, signature algorithm; validity


def garbage(octets):
    """A signature value of a modulus of that many octets, below any such modulus."""
    return bytes([0x40 | os.urandom(1)[0] & 0x3f]) + os.urandom(octets - 1)


def rsa_key(modulus_bits, exponent_bits):
    """A public key of a random odd modulus (top bit set) and a random odd exponent."""
    n = int.from_bytes(os.urandom(modulus_bits // 8), 'big') | 1 << modulus_bits - 1 | 1
    e = int.from_bytes(os.urandom((exponent_bits + 7) // 8), 'big') % (1 << exponent_bits)
    e |= 1 << exponent_bits - 1 | 1
    return n, e


def certificate(serial, issuer, subject, n, e, extensions=b''):
    """A certificate of the key (n, e) whose signature is garbage of the modulus' length."""
    spki = seq(seq(oid('1.2.840.113549.1.1.1'), der(0x05, b'')), bits(seq(integer(n), integer(e))))
    tbs = seq(der(0xa0, integer(2)), integer(serial), SHA256_RSA, issuer,
              seq(der(0x17, b'200101000000Z'), der(0x17, b'361201000000Z')), subject, spki,
              der(0xa3, seq(extensions)) if extensions else b'')
    return seq(tbs, SHA256_RSA, bits(garbage((n.bit_length() + 7) // 8)))


def ca_extensions():
    """Basic constraints (a CA) and a key usage to sign certificates and CRLs, both critical."""
    critical = der(0x01, b'\xff')
    return (seq(oid('2.5.29.19'), critical, der(0x04, seq(der(0x01, b'\xff')))) +
            seq(oid('2.5.29.15'), critical, der(0x04, der(0x03, b'\x01\x06'))))


def b64(data):
    return base64.b64encode(data).decode()


def digest_of(text):
    return b64(hashlib.sha256(text.encode()).digest())


def append_objects(src, payload):
    """payload as unsigned content of the receipt: a ds:Object after its last one."""
    assert src.count('</ds:Signature>') == 1
    return src.replace('</ds:Signature>', payload + '</ds:Signature>', 1)


def signer_x509_data(src):
    return re.search(r'<ds:X509Data>.*?</ds:X509Data>', src, re.S).group(0)


def signature(ident, references, value, x509_data, objects=''):
    return ('<ds:Signature Id="%s"><ds:SignedInfo><ds:CanonicalizationMethod Algorithm="%s"/>'
            '<ds:SignatureMethod Algorithm="%s"/>%s</ds:SignedInfo><ds:SignatureValue>%s'
            '</ds:SignatureValue><ds:KeyInfo>%s</ds:KeyInfo>%s</ds:Signature>'
            % (ident, C14N, RSA_SHA256, references, b64(value), x509_data, objects))


def reference(uri, digest='AAAA'):
    return ('<ds:Reference URI="%s"><ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s'
            '</ds:DigestValue></ds:Reference>' % (uri, SHA256, digest))


def canonical_object(ident, text):
    """A ds:Object under the receipt's root (ds declared there only) and its canonical form."""
    element = '<ds:Object Id="%s">%s</ds:Object>' % (ident, text)
    return element, element.replace('<ds:Object ', '<ds:Object xmlns:ds="%s" ' % DS, 1)


def big_key_signatures(src, count, exponent_bits=256, modulus_bits=16384):
    """count signatures appended, each over an object of its own (the digest right), signed
    (garbage) by a self-issued certificate it carries whose key has the modulus and exponent
    lengths: the signature's check and the certificate's as self-signed take the key's work."""
    sigs = []
    for i in range(count):
        n, e = rsa_key(modulus_bits, exponent_bits)
        who = name('Atak %d' % i)
        element, canonical = canonical_object('atak-o%d' % i, 'x')
        x509 = '<ds:X509Data><ds:X509Certificate>%s</ds:X509Certificate></ds:X509Data>' % b64(
            certificate(i + 1, who, who, n, e))
        sigs.append(signature('atak-s%d' % i, reference('#atak-o%d' % i, digest_of(canonical)),
                              garbage(modulus_bits // 8), x509, element))
    return append_objects(src, '<ds:Object>%s</ds:Object>' % ''.join(sigs))


def intermediate_impostors(src, count, low_bits=16384, high_bits=16384, exponent_bits=256):
    """The genuine receipt, carrying count unsigned CA certificates with the subject and issuer
    of the trusted intermediate (random keys of low_bits to high_bits; the CRL's signature has
    the length of high_bits, and a key of another length is refused before any work) in
    xades:CertificateValues (at most 1,024 there, the rest in the signer's ds:X509Data), and one
    unsigned CRL of that issuer without an authority key identifier, newer than the genuine
    one: the search for the CRL's issuer tries every certificate of its name."""
    issuer, subject = names_of(os.path.join(PKI, 'intermediate.der'))
    certs = []
    for i in range(count):
        size = low_bits + 8 * (int.from_bytes(os.urandom(2), 'big') % ((high_bits - low_bits) // 8 + 1))
        n, e = rsa_key(size, exponent_bits)
        certs.append(b64(certificate(0x7000 + i, issuer, subject, n, e, ca_extensions())))
    values, keyinfo = certs[:1024], certs[1024:]
    out = src.replace('<xades:RevocationValues>', '<xades:CertificateValues>%s</xades:CertificateValues>'
                      '<xades:RevocationValues>' % ''.join(
                          '<xades:EncapsulatedX509Certificate>%s</xades:EncapsulatedX509Certificate>' % c
                          for c in values), 1)
    out = out.replace('</ds:X509Data>', ''.join('<ds:X509Certificate>%s</ds:X509Certificate>' % c
                                                  for c in keyinfo) + '</ds:X509Data>', 1)
    tbs = seq(integer(1), SHA256_RSA, subject, der(0x17, b'261201000000Z'), der(0x17, b'361101000000Z'),
              der(0xa0, seq(seq(oid('2.5.29.20'), der(0x04, integer(3))))))
    crl = seq(tbs, SHA256_RSA, bits(garbage(high_bits // 8)))
    return out.replace('</xades:CRLValues>', '<xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue>'
                       '</xades:CRLValues>' % b64(crl), 1)


def text_references(src, count, references=45, octets=4000000):
    """count signatures (the signer's certificate, a garbage value) of references each to one
    unsigned ds:Object of a text of octets (the digests right): every reference canonicalises
    and digests the whole text. 45 of 4 MB are what one signature's work units let through
    (70 of them are refused with 140), 70 of 1 MB too."""
    element, canonical = canonical_object('tekst', 'A' * octets)
    refs = reference('#tekst', digest_of(canonical)) * references
    x509 = signer_x509_data(src)
    sigs = ''.join(signature('tekst-s%d' % i, refs, garbage(256), x509) for i in range(count))
    return append_objects(src, element + '<ds:Object>%s</ds:Object>' % sigs)


def whole_document_references(src, count, references=8, elements=150000):
    """count signatures of references each to the whole document (#xpointer(/), garbage digests)
    over an unsigned ds:Object of elements elements."""
    x509 = signer_x509_data(src)
    refs = reference('#xpointer(/)') * references
    sigs = ''.join(signature('caly-s%d' % i, refs, garbage(256), x509) for i in range(count))
    filler = ''.join('<e>%014d</e>' % i for i in range(elements))
    return append_objects(src, '<ds:Object>%s</ds:Object><ds:Object>%s</ds:Object>' % (filler, sigs))


def attributes_in_object_text(src, count):
    """The signed object's content replaced by a text that is one start tag of count attributes,
    typed text/plain so that it is saved as that text (the digest no longer matches, the
    object is saved all the same): a reader of the saved object parses the tag."""
    m = re.search(r'<ds:Object Id="Dokument-0"[^>]*>.*?</ds:Object>', src, re.S)
    tag = '&lt;e ' + ' '.join('a%d="v"' % i for i in range(count)) + '/>'
    return (src[:m.start()] + '<ds:Object Id="Dokument-0" MimeType="text/plain">' + tag +
            '</ds:Object>' + src[m.end():])


def long_rdn_issuers(src, count, attributes=400):
    """count certificates added to the signer's KeyInfo, all of one serial, whose issuers are
    one RDN of that many attributes, each in an order of its own and with a value of its own
    that sorts last, after a BIT STRING that does not read (normalising stops there): every two
    issuers are compared as multisets of attributes in received order, as the certificates are
    registered and remembered."""
    subject = name('Dlugie RDN')
    certs = []
    for i in range(count):
        values = ['v%05d' % k for k in range(attributes - 1)] + ['wyrozniony-%06d' % i]
        step = 7919 + 2 * i
        order = [values[(k * step + i) % attributes] for k in range(attributes)]
        if len(set(order)) != attributes:
            order = values[i % attributes:] + values[:i % attributes]
        # First a BIT STRING that does not read: the RDN is then compared as received, unsorted.
        rdn = der(0x31, seq(oid('2.5.4.10'), b'\x03\x01\x08') +
                  b''.join(seq(oid('2.5.4.3'), der(0x0c, v.encode())) for v in order))
        n, e = rsa_key(1024, 17)
        certs.append(b64(certificate(0x4242, seq(rdn), subject, n, e)))
    return src.replace('</ds:X509Data>', ''.join('<ds:X509Certificate>%s</ds:X509Certificate>' % c
                                                  for c in certs) + '</ds:X509Data>', 1)


def long_rdn_signer(src, attributes):
    """The receipt signed again by its signer's key (the test PKI's) under a certificate of that
    key and subject whose issuer is one RDN of that many common names, each of its own value
    (the certificate's signature garbage): no store holds that issuer, so the path search asks
    the network for it by name, and the name is first written as a directory's text. The
    signing certificate's digest and issuer name in the signed properties name that
    certificate."""
    signer = open(os.path.join(PKI, 'signer-rsa.der'), 'rb').read()
    certificate_body = tlv_children(tlv_body(signer))
    fields = tlv_children(tlv_body(certificate_body[0]))
    values = ['v%05d' % k for k in range(attributes)]
    fields[3] = seq(der(0x31, b''.join(seq(oid('2.5.4.3'), der(0x0c, v.encode())) for v in values)))
    forged = seq(seq(*fields), certificate_body[1], bits(garbage(256)))
    out = re.sub(r'<ds:X509Certificate>.*?</ds:X509Certificate>',
                 '<ds:X509Certificate>%s</ds:X509Certificate>' % b64(forged), src, count=1, flags=re.S)
    out = re.sub(r'(<xades:CertDigest>.*?<ds:DigestValue>).*?(</ds:DigestValue>)',
                 lambda m: m.group(1) + b64(hashlib.sha256(forged).digest()) + m.group(2), out,
                 count=1, flags=re.S)
    out = re.sub(r'<ds:X509IssuerName>.*?</ds:X509IssuerName>',
                 '<ds:X509IssuerName>%s</ds:X509IssuerName>' % '+'.join('CN=' + v for v in values),
                 out, count=1, flags=re.S)
    namespaces = {'ds': DS, 'xades': 'http://uri.etsi.org/01903/v1.3.2#'}
    props = xades_extend.element(out, '<xades:SignedProperties', '</xades:SignedProperties>')
    out = re.sub(r'(URI="#ID-UPO-SignedProperties".*?<ds:DigestValue>).*?(</ds:DigestValue>)',
                 lambda m: m.group(1) + b64(hashlib.sha256(xades_extend.c14n(props, namespaces)).digest())
                 + m.group(2), out, count=1, flags=re.S)
    info = xades_extend.c14n(xades_extend.element(out, '<ds:SignedInfo>', '</ds:SignedInfo>'), {'ds': DS})
    value = subprocess.run(['openssl', 'dgst', '-sha256', '-sign', os.path.join(PKI, 'signer-rsa.key')],
                           input=info, capture_output=True, check=True).stdout
    return re.sub(r'<ds:SignatureValue>.*?</ds:SignatureValue>',
                  '<ds:SignatureValue>%s</ds:SignatureValue>' % b64(value), out, count=1, flags=re.S)


BASE64 = 'http://www.w3.org/2000/09/xmldsig#base64'


def object_references(src, count, octets, namespaced=True, distinct=1):
    """The receipt's own signature given count references (base64 transform, digests right)
    ahead of its own, to unsigned base64 ds:Objects (one, or distinct ones named in turn) that
    decode to some octets of elements each: prefixed ones under 511 namespace declarations in
    scope (two elements of 255 and one more, the parse's caps), or plain <a/>. The signature
    fails; a reader of the signed objects that took each reference for an object of its own
    would read one count / distinct times."""
    if namespaced:
        outer = ''.join(' xmlns:q%d="urn:q"' % i for i in range(255))
        inner = ''.join(' xmlns:r%d="urn:r"' % i for i in range(255))
        head, tail, item = '<q%s><r%s><p xmlns:p="urn:p">' % (outer, inner), '</p></r></q>', '<q0:e/>'
    else:
        head, tail, item = '<p>', '</p>', '<a/>'
    items = item * max(0, (octets - len(head) - len(tail)) // len(item))
    texts = [(head.replace('>', ' n="%d">' % k, 1) if distinct > 1 else head).encode() +
             items.encode() + tail.encode() for k in range(distinct)]
    ids = ['big%d' % k if distinct > 1 else 'big' for k in range(distinct)]
    refs = ''.join('<ds:Reference URI="#%s"><ds:Transforms><ds:Transform Algorithm="%s"/>'
                   '</ds:Transforms><ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s'
                   '</ds:DigestValue></ds:Reference>'
                   % (ids[k % distinct], BASE64, SHA256,
                      b64(hashlib.sha256(texts[k % distinct]).digest())) for k in range(count))
    own = '<ds:Reference URI="#Dokument-0"'
    assert own in src
    out = src.replace(own, refs + own, 1)
    return append_objects(out, ''.join('<ds:Object Id="%s" Encoding="%s">%s</ds:Object>'
                                       % (ids[k], BASE64, base64.encodebytes(texts[k]).decode())
                                       for k in range(distinct)))

def look_alike_issuer(attributes, last):
    """A Name of one RDN of `attributes` common names, all 'x' but the last: names of this kind
    differ at their end only, and compared pairwise each costs the square of the count."""
    same = der(0x30, oid('2.5.4.3') + der(0x0c, b'x'))
    final = der(0x30, oid('2.5.4.3') + der(0x0c, last.encode()))
    return seq(der(0x31, same * (attributes - 1) + final))


def look_alike_certificates(count, attributes):
    """count certificates of one serial number whose issuers are look-alike names, small
    random keys and garbage signatures, as DER."""
    out = []
    for i in range(count):
        n, e = rsa_key(1024, 17)
        out.append(certificate(1, look_alike_issuer(attributes, 'z%d' % i), name('Atak %d' % i), n, e))
    return out


def carried_look_alikes(src, count, attributes=400):
    """The genuine receipt whose KeyInfo also carries count look-alike certificates (after the
    signer's): a valid verdict remembers every certificate the signature carries."""
    certs = ''.join('<ds:X509Certificate>%s</ds:X509Certificate>' % b64(c)
                    for c in look_alike_certificates(count, attributes))
    return src.replace('</ds:X509Data>', certs + '</ds:X509Data>', 1)


def signer_cert_id():
    """The OCSP CertID (SHA-1) of the receipt's signer: its issuer's name and key hashed."""
    data = open(os.path.join(PKI, 'intermediate.der'), 'rb').read()
    start, _ = tlv(data, 0)
    at, _ = tlv(data, start)
    fields = []
    while len(fields) < 7:
        _, end = tlv(data, at)
        fields.append(data[at:end])
        at = end
    key_start, key_end = tlv(fields[6], 0)
    _, algorithm_end = tlv(fields[6], key_start)
    bits_start, bits_end = tlv(fields[6], algorithm_end)
    key = fields[6][bits_start + 1:bits_end]
    signer = open(os.path.join(PKI, 'signer-rsa.der'), 'rb').read()
    start, _ = tlv(signer, 0)
    at, _ = tlv(signer, start)
    _, version_end = tlv(signer, at)
    serial_start, serial_end = tlv(signer, version_end)
    return seq(seq(oid('1.3.14.3.2.26'), der(0x05, b'')),
               der(0x04, hashlib.sha1(fields[5]).digest()), der(0x04, hashlib.sha1(key).digest()),
               signer[version_end:serial_end])


def ocsp_look_alikes(src, count, attributes=64, certificates=None):
    """The genuine receipt with an unsigned OCSP response for its signer (good, a garbage
    signature) carrying count look-alike certificates (or the given ones): the responder search
    reports and remembers each of them before the signature fails."""
    single = seq(signer_cert_id(), der(0x80, b''), der(0x18, b'20200101000000Z'),
                 der(0xa0, der(0x18, b'20361201000000Z')))
    tbs = seq(der(0xa1, name('Atak OCSP')), der(0x18, b'20261102091600Z'), seq(single))
    if certificates is None:
        certificates = look_alike_certificates(count, attributes)
    certs = der(0xa0, seq(*certificates))
    basic = seq(tbs, SHA256_RSA, bits(garbage(256)), certs)
    response = seq(der(0x0a, b'\0'), der(0xa0, seq(oid('1.3.6.1.5.5.7.48.1.1'), der(0x04, basic))))
    value = ('<xades:OCSPValues><xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue>'
             '</xades:OCSPValues>' % b64(response))
    assert src.count('</xades:CRLValues>') == 1
    return src.replace('</xades:CRLValues>', '</xades:CRLValues>' + value, 1)


def intermediate_fields():
    """The trusted intermediate's issuer and subject Names, its subjectPublicKeyInfo and its
    subjectKeyIdentifier extension (DER)."""
    path = os.path.join(PKI, 'intermediate.der')
    data = open(path, 'rb').read()
    issuer, subject = names_of(path)
    spki_at = data.index(subject, data.index(issuer) + len(issuer)) + len(subject)
    _, spki_end = tlv(data, spki_at)
    ski_at = data.find(oid('2.5.29.14'))
    _, ski_end = tlv(data, ski_at + len(oid('2.5.29.14')))
    return issuer, subject, data[spki_at:spki_end], seq(data[ski_at:ski_end])


def ocsp_intermediates(src, count, mode='own'):
    """The genuine receipt with an unsigned OCSP response for its signer (good, a garbage
    signature) carrying count CA certificates named like the trusted intermediate (its subject
    and issuer), each of a serial of its own (random at each call) and a garbage signature;
    mode 'own': random keys, no key identifier; 'ski': random keys under the intermediate's subjectKeyIdentifier, so
    that they match its children's authority key identifier; 'key': the intermediate's own
    key and identifier, so that its children's signatures verify under each. A context that
    remembers them meets them in every later search for the intermediate."""
    issuer, subject, spki, ski = intermediate_fields()
    # Serials of this call's own: receipts made apart carry different certificates.
    base = int.from_bytes(os.urandom(6), 'big') << 16 | 1 << 63
    certs = []
    for i in range(count):
        extensions = ca_extensions() + (ski if mode != 'own' else b'')
        if mode == 'key':
            tbs = seq(der(0xa0, integer(2)), integer(base + i), SHA256_RSA, issuer,
                      seq(der(0x17, b'200101000000Z'), der(0x17, b'361201000000Z')), subject, spki,
                      der(0xa3, seq(extensions)))
            certs.append(seq(tbs, SHA256_RSA, bits(garbage(256))))
        else:
            n, e = rsa_key(512, 17)
            certs.append(certificate(base + i, issuer, subject, n, e, extensions))
    single = seq(signer_cert_id(), der(0x80, b''), der(0x18, b'20200101000000Z'),
                 der(0xa0, der(0x18, b'20361201000000Z')))
    tbs = seq(der(0xa1, name('Atak OCSP')), der(0x18, b'20261102091600Z'), seq(single))
    basic = seq(tbs, SHA256_RSA, bits(garbage(256)), der(0xa0, seq(*certs)))
    response = seq(der(0x0a, b'\0'), der(0xa0, seq(oid('1.3.6.1.5.5.7.48.1.1'), der(0x04, basic))))
    value = ('<xades:OCSPValues><xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue>'
             '</xades:OCSPValues>' % b64(response))
    assert src.count('</xades:CRLValues>') == 1
    return src.replace('</xades:CRLValues>', '</xades:CRLValues>' + value, 1)

OCSP_TIME = b'20260101000000Z'


def intermediate_namesakes(count):
    """count small certificates (512-bit keys, garbage signatures, serials of their own) whose
    issuer and subject are the intermediate's: each is a candidate issuer of the signer."""
    issuer, subject = names_of(os.path.join(PKI, 'intermediate.der'))
    return [certificate(0x10000 + i, issuer, subject, *rsa_key(512, 17)) for i in range(count)]


def forged_crl(src, entries):
    """The genuine receipt with one more carried CRL by the intermediate's name (a garbage
    signature) of that many revoked serials: decoded whole before its signature fails."""
    _, issuer = names_of(os.path.join(PKI, 'intermediate.der'))
    revoked = b''.join(seq(integer(0x100000 + i), der(0x17, b'260101000000Z')) for i in range(entries))
    tbs = seq(integer(1), SHA256_RSA, issuer, der(0x17, b'261101000000Z'), der(0x17, b'261201000000Z'),
              seq(revoked))
    crl = seq(tbs, SHA256_RSA, bits(garbage(256)))
    value = '<xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue>' % b64(crl)
    assert src.count('</xades:CRLValues>') == 1
    return src.replace('</xades:CRLValues>', value + '</xades:CRLValues>', 1)


def digest_element(der_value):
    return ('<xades:DigestAlgAndValue><ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s'
            '</ds:DigestValue></xades:DigestAlgAndValue>' % (SHA256, b64(hashlib.sha256(der_value).digest())))


def ocsp_response(serial, certs=()):
    """A whole OCSPResponse (successful, a basic response by the name CN=Atak OCSP, produced at
    OCSP_TIME, of one good status of that serial, a garbage signature) carrying certs."""
    cert_id = seq(seq(oid('1.3.14.3.2.26'), der(0x05, b'')), der(0x04, bytes(20)), der(0x04, bytes(20)),
                  integer(serial))
    single = seq(cert_id, der(0x80, b''), der(0x18, OCSP_TIME))
    data = seq(der(0xa1, name('Atak OCSP')), der(0x18, OCSP_TIME), seq(single))
    basic = seq(data, SHA256_RSA, bits(garbage(256)), der(0xa0, seq(*certs)) if certs else b'')
    return seq(der(0x0a, b'\x00'), der(0xa0, seq(oid('1.3.6.1.5.5.7.48.1.1'), der(0x04, basic))))


def carried_references(src, kind, count, values=None, certificates=0):
    """The genuine time-stamped receipt (upo-t.xml beside src's folder) with unsigned
    references and values that agree, so that they are matched: count references of the kind
    ('ocsp', 'crl' or 'cert'), every one naming the last of values carried values of that kind
    (count of them when values is None; each OCSP response carrying certificates crafted
    certificates). One certificate reference names the signer's certificate and one CRL
    reference the receipt's first CRL where the kind is another."""
    t = open(os.path.join(HERE, '..', 'tests', 'data', 'upo', 'upo-t.xml'), encoding='utf-8').read()
    values = count if values is None else values
    crls = [base64.b64decode(c) for c in re.findall(r'<xades:EncapsulatedCRLValue>(.*?)<', t, re.S)]
    key = rsa_key(2048, 17)
    cert_refs = re.search(r'<xades:SigningCertificate>(<xades:Cert>.*?</xades:Cert>)', t, re.S).group(1)
    cert_values = [open(os.path.join(PKI, 'intermediate.der'), 'rb').read()]
    crl_refs = '<xades:CRLRefs><xades:CRLRef>%s</xades:CRLRef></xades:CRLRefs>' % digest_element(crls[0])
    ocsp_values = ''
    if kind == 'cert':
        cert_values = [certificate(0x9000 + i, name('Atak CA'), name('Atak %d' % i), *key)
                       for i in range(values)]
        cert_refs += ('<xades:Cert><xades:CertDigest><ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s'
                      '</ds:DigestValue></xades:CertDigest><xades:IssuerSerial><ds:X509IssuerName>CN=Atak CA'
                      '</ds:X509IssuerName><ds:X509SerialNumber>%d</ds:X509SerialNumber></xades:IssuerSerial>'
                      '</xades:Cert>' % (SHA256, b64(hashlib.sha256(cert_values[-1]).digest()),
                                         0x9000 + values - 1)) * count
    elif kind == 'crl':
        extra = []
        for i in range(values):
            tbs = seq(integer(1), SHA256_RSA, name('Atak CRL'), der(0x17, b'260101000000Z'),
                      der(0x17, b'361101000000Z'), der(0xa0, seq(seq(oid('2.5.29.20'), der(0x04, integer(i))))))
            extra.append(seq(tbs, SHA256_RSA, bits(garbage(256))))
        t = t.replace('</xades:CRLValues>', ''.join(
            '<xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue>' % b64(c) for c in extra) +
            '</xades:CRLValues>', 1)
        crl_refs = '<xades:CRLRefs>%s</xades:CRLRefs>' % (
            ('<xades:CRLRef>%s<xades:CRLIdentifier><xades:Issuer>CN=Atak CRL</xades:Issuer><xades:IssueTime>'
             '2026-01-01T00:00:00Z</xades:IssueTime><xades:Number>%d</xades:Number></xades:CRLIdentifier>'
             '</xades:CRLRef>' % (digest_element(extra[-1]), values - 1)) * count)
    elif kind == 'ocsp':
        certs = [certificate(0xa000 + i, name('Atak CA'), name('Atak %d' % i), *key) for i in range(certificates)]
        responses = [ocsp_response(i + 1, certs) for i in range(values)]
        ocsp_values = '<xades:OCSPValues>%s</xades:OCSPValues>' % ''.join(
            '<xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue>' % b64(r) for r in responses)
        crl_refs += '<xades:OCSPRefs>%s</xades:OCSPRefs>' % (
            ('<xades:OCSPRef><xades:OCSPIdentifier><xades:ResponderID><xades:ByName>CN=Atak OCSP</xades:ByName>'
             '</xades:ResponderID><xades:ProducedAt>2026-01-01T00:00:00Z</xades:ProducedAt></xades:OCSPIdentifier>'
             '%s</xades:OCSPRef>' % digest_element(responses[-1])) * count)
    else:
        raise ValueError(kind)
    refs = ('<xades:CompleteCertificateRefs><xades:CertRefs>%s</xades:CertRefs></xades:CompleteCertificateRefs>'
            '<xades:CompleteRevocationRefs>%s</xades:CompleteRevocationRefs><xades:CertificateValues>%s'
            '</xades:CertificateValues>' % (cert_refs, crl_refs, ''.join(
                '<xades:EncapsulatedX509Certificate>%s</xades:EncapsulatedX509Certificate>' % b64(c)
                for c in cert_values)))
    t = t.replace('<xades:RevocationValues>', refs + '<xades:RevocationValues>', 1)
    return t.replace('</xades:CRLValues>', '</xades:CRLValues>' + ocsp_values, 1)



def crls_of_many_issuers(src, count):
    """The genuine time-stamped receipt (as carried_references makes it: one junk CRL and its
    reference) with count more unsigned junk CRLs, each of its own issuer ('Atak CRL 0' ...)."""
    t = carried_references(src, 'crl', 1, values=1)
    extra = [seq(seq(integer(1), SHA256_RSA, name('Atak CRL %d' % i), der(0x17, b'260101000000Z'),
                     der(0x17, b'361101000000Z')), SHA256_RSA, bits(garbage(256))) for i in range(count)]
    return t.replace('</xades:CRLValues>', ''.join(
        '<xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue>' % b64(c) for c in extra) +
        '</xades:CRLValues>', 1)


SHA1 = 'http://www.w3.org/2000/09/xmldsig#sha1'
SHA512 = 'http://www.w3.org/2001/04/xmlenc#sha512'
HASHES = {SHA1: hashlib.sha1, SHA256: hashlib.sha256, SHA512: hashlib.sha512}


def tlv_body(data):
    """The content octets of the DER value data starts with."""
    n, at = data[1], 2
    if n & 0x80:
        n, at = int.from_bytes(data[2:2 + (n & 0x7f)], 'big'), 2 + (n & 0x7f)
    return data[at:at + n]


def tlv_children(body):
    """The DER values one after another in body."""
    out = []
    while body:
        n, at = body[1], 2
        if n & 0x80:
            n, at = int.from_bytes(body[2:2 + (n & 0x7f)], 'big'), 2 + (n & 0x7f)
        out.append(body[:at + n])
        body = body[at + n:]
    return out


def reference_form(form):
    """carried_references at one reference naming the last of three values, that reference in
    the form named: 'ocsp-basic' (its digest over the basic response, not the whole one),
    'ocsp-sha1', 'ocsp-sha512-basic', 'ocsp-no-digest', 'ocsp-no-digest-later' (and produced a
    second later), 'ocsp-by-key' (a responder by key the responses do not name), 'crl-sha512',
    'crl-no-identifier', 'cert-sha1', and 'two-hashes' (a CRL reference by SHA-1 beside the one
    by SHA-256)."""
    kind = form.split('-')[0] if form != 'two-hashes' else 'crl'
    t = carried_references(None, kind, 1, values=3)

    def last(tag):
        return base64.b64decode(re.findall(r'<xades:%s>(.*?)<' % tag, t, re.S)[-1])

    def digest(uri, value):
        return ('<xades:DigestAlgAndValue><ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s'
                '</ds:DigestValue></xades:DigestAlgAndValue>' % (uri, b64(HASHES[uri](value).digest())))

    def named(ref, element):
        """t with the last reference of the element ref named, made element."""
        at = t.rfind('<xades:%s>' % ref)
        end = t.index('</xades:%s>' % ref, at) + len('</xades:%s>' % ref)
        return t[:at] + element(t[at:end]) + t[end:]

    old = re.compile(r'<xades:DigestAlgAndValue>.*?</xades:DigestAlgAndValue>', re.S)
    if kind == 'ocsp':
        whole = last('EncapsulatedOCSPValue')
        basic = tlv_body(tlv_children(tlv_body(tlv_body(tlv_children(tlv_body(whole))[1])))[1])
        forms = {
            'ocsp-basic': lambda r: old.sub(digest(SHA256, basic), r),
            'ocsp-sha1': lambda r: old.sub(digest(SHA1, whole), r),
            'ocsp-sha512-basic': lambda r: old.sub(digest(SHA512, basic), r),
            'ocsp-no-digest': lambda r: old.sub('', r),
            'ocsp-no-digest-later': lambda r: old.sub('', r).replace('00:00:00Z', '00:00:01Z'),
            'ocsp-by-key': lambda r: old.sub('', r).replace(
                '<xades:ByName>CN=Atak OCSP</xades:ByName>', '<xades:ByKey>%s</xades:ByKey>' % b64(bytes(20))),
        }
        return named('OCSPRef', forms[form])
    if kind == 'crl':
        crl = last('EncapsulatedCRLValue')
        if form == 'two-hashes':
            return named('CRLRef', lambda r: old.sub(digest(SHA1, crl), r) + r)
        forms = {
            'crl-sha512': lambda r: old.sub(digest(SHA512, crl), r),
            'crl-no-identifier': lambda r: re.sub(r'<xades:CRLIdentifier>.*?</xades:CRLIdentifier>', '', r),
        }
        return named('CRLRef', forms[form])
    cert = last('EncapsulatedX509Certificate')
    return named('Cert', lambda r: re.sub(r'<ds:DigestMethod.*?</ds:DigestValue>', digest(SHA1, cert)[len(
        '<xades:DigestAlgAndValue>'):-len('</xades:DigestAlgAndValue>')], r, flags=re.S))


def archive_time_stamps(src, count, objects=0):
    """The genuine time-stamped receipt (upo-t.xml) with count unsigned archive time-stamps, each
    its signature time-stamp's token, and objects empty unsigned ds:Objects: every time-stamp's
    covered data lists the archive time-stamps before it, each matched with its token, and every
    unreferenced ds:Object."""
    t = open(os.path.join(HERE, '..', 'tests', 'data', 'upo', 'upo-t.xml'), encoding='utf-8').read()
    token = re.search(r'<xades:EncapsulatedTimeStamp>(.*?)<', t, re.S).group(1)
    stamps = ''.join('<xades:ArchiveTimeStamp><xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp>'
                     '</xades:ArchiveTimeStamp>' % token for _ in range(count))
    t = t.replace('</xades:UnsignedSignatureProperties>', stamps + '</xades:UnsignedSignatureProperties>', 1)
    return t.replace('</ds:Signature>', '<ds:Object/>' * objects + '</ds:Signature>', 1)


def large_key_certificate(src, count, key_octets=512 << 10):
    """The genuine receipt whose unsigned KeyInfo carries one more certificate C (a small
    issuer, a subjectPublicKey of key_octets random octets under an algorithm no one knows),
    then count small signatures in an unsigned ds:Object, each of the receipt's own reference to
    its signed object (the digest right, the value garbage) naming C by X509IssuerSerial: each
    signature's path search may find C and describe it whole, its key in hex, in the report."""
    issuer = name('Atak C')
    spki = seq(seq(oid('1.3.6.1.4.1.99999.1'), der(0x05, b'')), bits(os.urandom(key_octets)))
    tbs = seq(der(0xa0, integer(2)), integer(0x0c), SHA256_RSA, issuer,
              seq(der(0x17, b'200101000000Z'), der(0x17, b'361201000000Z')), name('Atak C klucz'), spki)
    c = seq(tbs, SHA256_RSA, bits(garbage(256)))
    out = src.replace('</ds:X509Data>', '<ds:X509Certificate>%s</ds:X509Certificate></ds:X509Data>' % b64(c), 1)
    x509 = ('<ds:X509Data><ds:X509IssuerSerial><ds:X509IssuerName>CN=Atak C</ds:X509IssuerName>'
            '<ds:X509SerialNumber>12</ds:X509SerialNumber></ds:X509IssuerSerial></ds:X509Data>')
    own = re.search(r'<ds:Reference URI="#Dokument-0".*?</ds:Reference>', src, re.S).group(0)
    sigs = ''.join(signature('c-s%d' % i, own, garbage(128), x509) for i in range(count))
    return append_objects(out, '<ds:Object>%s</ds:Object>' % sigs)


def long_path_signatures(src, count, length=4000):
    """The genuine receipt with count bare ds:Signature elements under one unsigned element
    whose name has length characters: the report names each signature by its path."""
    tag = 'a' * length
    return append_objects(src, '<ds:Object><%s>%s</%s></ds:Object>' % (tag, '<ds:Signature/>' * count, tag))

# Name: (builder, the count of a test run (None: none), the counts of a hand run). Before the
# allowance, each test count that fails costs 1.3 to 3 times its limit (one second and one per MB) in
# a release build, and each hand count half a minute to a minute or more. A CRL's issuers of
# 2,048 to 16,384 bits cost next to nothing: only a key whose length is the signature's is used.
VARIANTS = {
    'keys-e256': (big_key_signatures, 96, (128, 1024)),
    'keys-e64': (lambda src, count: big_key_signatures(src, count, exponent_bits=64), 32, (128, 1024)),
    'intermediates': (intermediate_impostors, 64, (128, 1024)),
    'intermediates-e64': (lambda src, count: intermediate_impostors(src, count, exponent_bits=64), 32,
                          (1024,)),
    'refs-text-1MB': (lambda src, count: text_references(src, count, octets=1 << 20), 32, ()),
    'refs-text-4MB': (text_references, None, (64,)),
    'xpointer-root-50k': (lambda src, count: whole_document_references(src, count, elements=50000), 64, ()),
    'xpointer-root-150k': (whole_document_references, None, (32,)),
    'object-attrs': (attributes_in_object_text, 50000, (150000,)),
    'rdn-issuers': (long_rdn_issuers, None, (255,)),
    'rdn-signer-issuer': (long_rdn_signer, 4000, (60000,)),
    'object-refs-ns-200k': (lambda src, count: object_references(src, count, 200000), 250, ()),
    'object-refs-ns-1MB': (lambda src, count: object_references(src, count, 1 << 20), 100, ()),
    'object-refs-ns-4MB': (lambda src, count: object_references(src, count, 4 << 20), None, (60,)),
    'object-refs-plain-1MB': (lambda src, count: object_references(src, count, 1 << 20, False), 100,
                              ()),
    'object-refs-distinct': (lambda src, count: object_references(src, count, 2000, False, 20), 40,
                             ()),
    'carried-lookalikes': (carried_look_alikes, 255, (255,)),
    'ocsp-lookalikes': (ocsp_look_alikes, 4000, (700, 4000)),
    'ocsp-intermediates': (ocsp_intermediates, 1000, (4200,)),
    'ocsp-intermediates-ski': (lambda src, count: ocsp_intermediates(src, count, 'ski'), 1000, (4200,)),
    'ocsp-intermediates-key': (lambda src, count: ocsp_intermediates(src, count, 'key'), 1000, (4200,)),
    'ocsp-refs': (lambda src, count: carried_references(src, 'ocsp', 1000, values=count), 1000, (1000,)),
    'ocsp-refs-certs': (lambda src, count: carried_references(src, 'ocsp', 1000, values=count, certificates=10),
                        300, (1000,)),
    'crl-refs': (lambda src, count: carried_references(src, 'crl', count), 1000, (1000,)),
    'crl-values': (lambda src, count: carried_references(src, 'crl', 1, values=count), 1000, (1000,)),
    'crl-issuers': (crls_of_many_issuers, 1000, (1000,)),
    'cert-refs': (lambda src, count: carried_references(src, 'cert', count), 1000, (1000,)),
    'archive-stamps': (lambda src, count: archive_time_stamps(src, 1024, objects=count), 20000, (100000,)),
    # What decoding holds: names of thousands of attributes, a CRL of 200,000 entries, thousands
    # of certificates under one OCSP response.
    'lookalikes-1000': (lambda src, count: carried_look_alikes(src, count, 1000), 100, (100,)),
    'lookalikes-3000': (lambda src, count: carried_look_alikes(src, count, 3000), None, (255,)),
    'crl-entries': (forged_crl, 200000, (200000,)),
    'ocsp-namesakes': (lambda src, count: ocsp_look_alikes(src, count,
                                                           certificates=intermediate_namesakes(count)),
                       4000, (4000, 12000)),
    'report-key-64KB': (lambda src, count: large_key_certificate(src, count, key_octets=64 << 10), 1000,
                        (1000,)),
    'report-key-512KB': (large_key_certificate, 500, (500, 4000)),
    'report-long-paths': (long_path_signatures, 4095, (4095,)),
}
# Their file names in a folder run: after the classic ones.
NUMBERS = {'keys-e256': '14', 'keys-e64': '14b', 'intermediates': '15', 'intermediates-e64': '15b',
           'refs-text-1MB': '16', 'refs-text-4MB': '16b', 'xpointer-root-50k': '17',
           'xpointer-root-150k': '17b', 'object-attrs': '18', 'object-refs-ns-200k': '19',
           'object-refs-ns-1MB': '19b', 'object-refs-ns-4MB': '19c', 'object-refs-plain-1MB': '19d',
           'object-refs-distinct': '19e', 'ocsp-refs': '20', 'ocsp-refs-certs': '20b',
           'crl-refs': '20c', 'crl-values': '20f', 'crl-issuers': '20g', 'cert-refs': '20d', 'archive-stamps': '20e',
           'rdn-issuers': '21', 'rdn-signer-issuer': '21b',
           'carried-lookalikes': '22', 'ocsp-lookalikes': '22b', 'report-key-64KB': '23',
           'report-key-512KB': '23b', 'report-long-paths': '23c', 'lookalikes-1000': '24',
           'lookalikes-3000': '24b', 'crl-entries': '24c', 'ocsp-namesakes': '24d',
           'ocsp-intermediates': '25', 'ocsp-intermediates-ski': '25b', 'ocsp-intermediates-key': '25c'}


def build(variant, count, src=None):
    if src is None:
        src = open(os.path.join(HERE, '..', 'tests', 'data', 'upo', 'upo.xml'), encoding='utf-8').read()
    return VARIANTS[variant][0](src, count)


# The junk CRLs a context keeps between documents.
NUMBERS.update({'crl-values': '20f', 'crl-issuers': '20g'})


def write_allowance(src, out, large=False):
    """The allowance's variants as files in the folder out, at the test counts or (large) at
    the hand counts."""
    for variant, (builder, small, hand) in VARIANTS.items():
        for count in (hand if large else () if small is None else (small,)):
            with open(os.path.join(out, '%s-%s-%d.xml' % (NUMBERS[variant], variant, count)), 'w',
                      encoding='utf-8') as f:
                f.write(builder(src, count))


def main(argv):
    if len(argv) >= 2 and argv[0] in VARIANTS:
        # genhostile.py VARIANT [--count N] OUT.xml: one variant (by default its test count, else
        # its first hand count)
        args = argv[1:]
        count = VARIANTS[argv[0]][1] or VARIANTS[argv[0]][2][0]
        if '--count' in args:
            at = args.index('--count')
            count = int(args[at + 1])
            del args[at:at + 2]
        if len(args) != 1 or count < 0:
            sys.exit('usage: genhostile.py VARIANT [--count N] OUT.xml')
        with open(args[0], 'w', encoding='utf-8') as f:
            f.write(build(argv[0], count))
        return
    large = '--large' in argv
    argv = [a for a in argv if a != '--large']
    if len(argv) != 2:
        sys.exit('usage: genhostile.py RECEIPT.xml OUT_FOLDER [--large]  (the project\'s tests/data/upo/upo.xml)\n'
                 '       genhostile.py VARIANT [--count N] OUT.xml  (VARIANT one of %s)' % ', '.join(VARIANTS))
    src = open(argv[0], encoding='utf-8').read()
    if large:  # the hand run's baseline alone of the classic ones
        with open(os.path.join(argv[1], '00-baseline.xml'), 'w', encoding='utf-8') as f:
            f.write(src)
    else:
        write_classic(src, argv[1])
    write_allowance(src, argv[1], large)


if __name__ == '__main__':
    main(sys.argv[1:])
