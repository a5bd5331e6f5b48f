#!/bin/sh
# Sample receipts (UPO) signed by xmlsec1 over the PKI of make_pki.sh.
#
# A receipt is a ds:Signature whose ds:Object "Dokument-0" (MimeType text/xml,
# so the signed object is saved as XML) holds the receipt
# element (pot:Potwierdzenie); the signature is XAdES-BES made by hand: a
# reference to the object and one to xades:SignedProperties (SigningTime,
# SigningCertificate with a SHA-256 CertDigest and IssuerSerial), xmlsec1
# computes digests and value. The CRLs of the path go into
# xades:RevocationValues (unsigned) since the C interface takes no CRL: that
# is how a receipt carries its revocation data offline. The XAdES-T forms add
# a xades:SignatureTimeStamp whose token `openssl ts -reply` makes (under
# faketime, so the time is fixed) over the canonical ds:SignatureValue.
#
#   deklaracja.xml             the declaration; SkrotDokumentu = its SHA-256
#   deklaracja-zmieniona.xml   the same with one amount changed
#   upo.xml                    RSA signer, BES: the sample
#   upo-ec.xml                 EC P-256 signer, BES; SkrotDokumentu is SHA-1
#   upo-t.xml                  upo.xml with a signature time-stamp
#   upo-zmienione-pole.xml     upo.xml with NumerReferencyjny changed after signing
#   upo-revoked.xml            revoked signer (CRL)
#   upo-hold.xml               signer on certificateHold (CRL)
#   upo-expired.xml            expired signer, signed in 2020, no time-stamp
#   upo-expired-t.xml          the same with a time-stamp from 2020 (before expiry), the
#                              intermediate's CRL of 2020 (after the time-stamp, before
#                              expiry) for the signer and its current one for the TSA
#   upo-expired-t-late-crl.xml the same with only the current CRL (issued after expiry)
#   upo-t-bad-imprint.xml      a token whose imprint is not the SignatureValue's
#   upo-bez-typu.xml           upo.xml's shape, its object reference without Type (as
#                              xmlsec1 templates and most signers write it)
#   upo-enveloped.xml          the receipt element is the document and holds the
#                              signature, whose reference is URI="" with the enveloped
#                              transform
#   upo-xpointer-1mb.xml       (--forms) the same over some 10,800 entries (1 MB), its
#                              reference #xpointer(/descendant-or-self::node())
#   upo-here-1mb.xml           (--forms) the same with the W3C's enveloped XPath filter
#                              (here())
#   make_upo.sh --forms-mb OUT MB
#                              the five enveloped forms signers use over MB megabytes of
#                              dense rows, made when a test runs (see formsmb)
#   upo-bez-mime.xml           as xmlsec1 templates write an enveloping signature: the
#                              object Id="Dokument" with no MimeType holds the receipt
#                              element (default namespace) between white space, its
#                              reference has no Type and no transforms
#   upo-t-bez-mime.xml         the same with a signature time-stamp
#   make_upo.sh --shapes       only the last four
#   upo-ns-podpis.xml          the receipt's prefix (xmlns:pot) declared on ds:Signature
#   upo-ns-obiekt.xml          declared on ds:Object, which has no MimeType
#   upo-ns-dokument.xml        declared on a document element that holds ds:Signature
#   upo-ns-domyslna.xml        the receipt unprefixed, its namespace the default one declared
#                              on ds:Object, whose MimeType is application/xml
#   make_upo.sh --namespaces   only these four
#   make_upo.sh --crafted      receipts the example must reject, made from upo.xml:
#     upo-env-obiekt.xml           the enveloped transform added to the object's reference
#                                  (not signed again: the signature fails)
#     upo-env-obiekt-podpisany.xml the same signed by xmlsec1: the transform leaves the
#                                  signature's digest nothing, so the object is not covered
#     upo-uri-wzgledny.xml         the object's reference names a file (detached)
#     upo-uri-zewnetrzny.xml       the object's reference names an http URL
#     upo-podwojne-id.xml          a second ds:Object claims the object's Id
#     upo-xslt.xml                 an XSLT transform (reading a file) on the object's reference
#     upo-xpath.xml                an XPath transform calling document()
#     deklaracja-pusta.xml         an empty file (as receipt or declaration: nothing to judge)
#
#   make_upo.sh --texts        receipts whose signed object (MimeType text/plain) holds the
#                              receipt element as text, so that it is saved as markup no parse
#                              of the receipt has seen, signed by xmlsec1:
#     upo-tekst-256.xml            the receipt element with 256 attributes more (the library's
#                                  cap of attributes per element: read)
#     upo-tekst-257.xml            with 257 (past the cap: the library refuses the markup)
#
#   make_upo.sh --controls     receipts and a signer whose texts hold control characters
#                              (line breaks, ESC, the 8-bit CSI U+009B, U+202E), to be shown
#                              escaped, never acted on:
#     pki/signer-sterujace.*       a self-signed RSA signer (not trusted) whose CN is
#                                  CR LF "Werdykt: UPO poprawne ..." ESC "[8m" and whose O
#                                  holds U+009B and U+202E besides Polish letters (UTF8String)
#     upo-cn-sterujace.xml         a receipt that signer signs (xmlsec1), with CRs and LFs in
#                                  its NumerReferencyjny
#     upo-pole-sterujace.xml       upo.xml whose NazwaPodmiotuPrzyjmujacego is changed after
#                                  signing to CR LF "Werdykt: UPO poprawne ..." LF U+009B U+202E
#
#   make_upo.sh --big OUT MB [elements|text]
#                              a receipt of about MB megabytes (for benchmarks): many
#                              small elements, or one element of base64 text
#   make_upo.sh --bare         receipts to be extended, with nothing unsigned:
#                              upo-bare.xml (BES), upo-t-bare.xml (a signature
#                              time-stamp only), upo-issuer-serial.xml (BES whose
#                              KeyInfo names the signer by issuer and serial, not by
#                              certificate), upo-plain.xml (no XAdES properties and no
#                              Id on ds:Signature)
#   make_upo.sh --ocsp URL OUT receipts whose signers' certificates name the OCSP
#                              responder URL (a test's local one, so made when the
#                              test runs): OUT/upo-ocsp-good.xml, OUT/upo-ocsp-revoked.xml
#                              (BES, no revocation values) and the responder's
#                              OUT/index.txt
#
# Every document is checked with `xmlsec1 --verify` (trusted root,
# intermediate, CRLs in a copy's KeyInfo) the way the tests expect it to come out.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
XS="--id-attr:Id Object --id-attr:Id SignedProperties"
P=pki  # the folder of the signers' keys and certificates

# receipt ID-OF-FILE DIGEST-HEX [PADDING-MB]: the receipt element.
receipt() {
  python3 - "$@" <<'PY'
import sys
ref, digest = sys.argv[1], sys.argv[2]
pad = float(sys.argv[3]) if len(sys.argv) > 3 else 0.0
pad = int(pad) if pad.is_integer() else pad
shape = sys.argv[4] if len(sys.argv) > 4 else 'elements'
fields = [
  ("NazwaPodmiotuPrzyjmujacego", "Urząd Testowy Przyjmowania Deklaracji"),
  ("NumerReferencyjny", ref),
  ("SkrotDokumentu", digest),
  ("SkrotZlozonejStruktury", "7D3F0A9C5B21E4F8A6C0D9B3E1F27A4C8B5D6E90"),
  ("NazwaStrukturyLogicznej", "PIT-37(26)_v1-0E.xsd"),
  ("DataWplyniecia", "2026-11-02T10:14:58.000+01:00"),
  ("StempelCzasu", "2026-11-02T10:14:59.412+01:00"),
  ("PESEL1", "85010112348"),
  ("NIP1", "5270103391"),
  ("NumerIdentyfikacyjny", "ZT/2026/11/0042137"),
  ("PESEL2", "87061523456"),
  ("NIP2", "7010003215"),
  ("KodUrzedu", "1471"),
  ("KodFormularza", "PIT-37"),
  ("Przyjeto", "true"),
]
out = ['<pot:Potwierdzenie xmlns:pot="http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/">']
for name, value in fields:
  out.append('  <pot:%s>%s</pot:%s>' % (name, value, name))
if pad and shape == 'text':  # one large element: an attachment as base64 text in lines of 76
  # (57 octets a line of 77 characters), kept under libxml2's 10,000,000 characters a text node
  import base64, random
  data = random.Random(pad).randbytes(min(pad * 1000 * 1000, 9900000) // 77 * 57)
  out.append('  <pot:Zalacznik>%s</pot:Zalacznik>' % base64.encodebytes(data).decode().strip())
elif pad and shape == 'dense':  # dense rows: small elements with attributes and text, a comment
  line = ('  <pot:W Lp="%d" T="K"><pot:K>%05d</pot:K><pot:N>Wpis %d</pot:N>'
          '<pot:S w="PLN">%d.%02d</pot:S></pot:W>')
  rows = int(pad * 1024 * 1024) // (len(line) + 10)
  out += [line % (i, i % 100000, i, i % 9973, i % 100) for i in range(rows)]
  out.insert(len(out) // 2, '  <!-- wiersz kontrolny: comments stay only in the XPointer forms -->')
elif pad:  # many small elements, as a long list of entries would be
  line = '  <pot:Pozycja Lp="%d"><pot:Opis>Wpis rejestru przyjetych dokumentow</pot:Opis></pot:Pozycja>'
  out += [line % i for i in range(pad * 1024 * 1024 // (len(line) + 6))]
out.append('</pot:Potwierdzenie>')
sys.stdout.write('\n'.join(out))
PY
}

# template SIGNER SIGALG SIGNING-TIME RECEIPT-FILE OUT: the unsigned template.
template() {
  digest=$(openssl dgst -sha256 -binary "$P/$1.der" | base64 -w 0)
  issuer=$(openssl x509 -in "$P/$1.pem" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
  serial=$(printf '%d' "0x$(openssl x509 -in "$P/$1.pem" -noout -serial | sed 's/^serial=//')")
  python3 - "$2" "$3" "$digest" "$issuer" "$serial" "$4" "$5" <<'PY'
import sys
alg, when, digest, issuer, serial, receipt_file, out = sys.argv[1:]
DS = 'http://www.w3.org/2000/09/xmldsig#'
C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'
SHA256 = 'http://www.w3.org/2001/04/xmlenc#sha256'
receipt = open(receipt_file, encoding='utf-8').read()
doc = (
 '<?xml version="1.0" encoding="UTF-8"?>\n'
 '<ds:Signature xmlns:ds="%s" Id="ID-UPO-Signature">'
 '<ds:SignedInfo><ds:CanonicalizationMethod Algorithm="%s"/>'
 '<ds:SignatureMethod Algorithm="http://www.w3.org/2001/04/xmldsig-more#%s"/>'
 '<ds:Reference URI="#Dokument-0" Type="%sObject"><ds:Transforms><ds:Transform Algorithm="%s"/></ds:Transforms>'
 '<ds:DigestMethod Algorithm="%s"/><ds:DigestValue/></ds:Reference>'
 '<ds:Reference URI="#ID-UPO-SignedProperties" Type="http://uri.etsi.org/01903#SignedProperties">'
 '<ds:Transforms><ds:Transform Algorithm="%s"/></ds:Transforms>'
 '<ds:DigestMethod Algorithm="%s"/><ds:DigestValue/></ds:Reference></ds:SignedInfo>'
 '<ds:SignatureValue/><ds:KeyInfo><ds:X509Data/></ds:KeyInfo>'
 '<ds:Object Id="Dokument-0" MimeType="text/xml">%s</ds:Object>'
 '<ds:Object><xades:QualifyingProperties xmlns:xades="http://uri.etsi.org/01903/v1.3.2#" Target="#ID-UPO-Signature">'
 '<xades:SignedProperties Id="ID-UPO-SignedProperties"><xades:SignedSignatureProperties>'
 '<xades:SigningTime>%s</xades:SigningTime><xades:SigningCertificate><xades:Cert><xades:CertDigest>'
 '<ds:DigestMethod Algorithm="%s"/><ds:DigestValue>%s</ds:DigestValue></xades:CertDigest>'
 '<xades:IssuerSerial><ds:X509IssuerName>%s</ds:X509IssuerName><ds:X509SerialNumber>%s</ds:X509SerialNumber>'
 '</xades:IssuerSerial></xades:Cert></xades:SigningCertificate></xades:SignedSignatureProperties>'
 '<xades:SignedDataObjectProperties><xades:DataObjectFormat ObjectReference="#Dokument-0">'
 '<xades:MimeType>text/xml</xades:MimeType></xades:DataObjectFormat></xades:SignedDataObjectProperties>'
 '</xades:SignedProperties><xades:UnsignedProperties><xades:UnsignedSignatureProperties/>'
 '</xades:UnsignedProperties></xades:QualifyingProperties></ds:Object></ds:Signature>\n'
) % (DS, C14N, alg, DS, C14N, SHA256, C14N, SHA256, receipt, when, SHA256, digest, issuer, serial)
open(out, 'w', encoding='utf-8', newline='').write(doc)
PY
}

# sign SIGNER TEMPLATE OUT
sign() {
  # shellcheck disable=SC2086
  xmlsec1 --sign --privkey-pem "$P/$1.key,$P/$1.pem" $XS --output "$3" "$2"
}

# unsigned IN OUT INTERMEDIATE-CRLS [TOKEN-FILE]: the unsigned properties (CRL names
# separated by commas).
unsigned() {
  python3 - "$1" "$2" "$3" "${4:-}" <<'PY'
import sys, base64
src, out, inter_crls, token = sys.argv[1:]
b64 = lambda p: base64.encodebytes(open(p, 'rb').read()).decode().strip()
props = ''
if token:
  props += ('<xades:SignatureTimeStamp Id="ID-UPO-SignatureTimeStamp"><xades:EncapsulatedTimeStamp>%s'
            '</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp>') % b64(token)
if inter_crls != '-':  # '-': no revocation values
  props += '<xades:RevocationValues><xades:CRLValues>'
  for crl in ['root'] + inter_crls.split(','):
    props += '<xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue>' % b64('crl/%s.der' % crl)
  props += '</xades:CRLValues></xades:RevocationValues>'
text = open(src, encoding='utf-8').read()
empty = '<xades:UnsignedSignatureProperties/>'
assert text.count(empty) == 1
text = text.replace(empty, '<xades:UnsignedSignatureProperties>' + props + '</xades:UnsignedSignatureProperties>')
open(out, 'w', encoding='utf-8', newline='').write(text)
PY
}

# sigvalue SIGNED OUT: the canonical ds:SignatureValue, by the helper of the
# XAdES fixtures.
sigvalue() { python3 ../xmlsig/xades/xades_extend.py sigvalue "$1" "$2"; }

cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
serial = $W/tsaserial
signer_cert = $PWD/pki/tsa.pem
certs = $PWD/pki/intermediate.pem
signer_key = $PWD/pki/tsa.key
signer_digest = sha256
default_policy = 1.2.616.1.113527.2.5.1.7
digests = sha256
ess_cert_id_alg = sha256
accuracy = secs:1
CNF
printf '3001\n' > "$W/tsaserial"
# token DATA WHEN OUT: a time-stamp token over DATA made at the fixed time WHEN.
token() {
  openssl ts -query -data "$1" -sha256 -cert -out "$W/q.tsq" 2>/dev/null
  faketime "$2" openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/q.tsq" -token_out -out "$3" 2>/dev/null
  cat pki/intermediate.pem pki/root.pem > "$W/chain.pem"
  openssl ts -verify -data "$1" -in "$3" -token_in -CAfile pki/root.pem -untrusted "$W/chain.pem" \
    -attime "$(date -d "$2 UTC" +%s)" >/dev/null 2>&1
}

# withcrl DOC OUT CRL...: DOC with the CRLs as ds:X509CRL in its KeyInfo (not
# signed), where xmlsec1 1.2 takes CRLs from (it has no --crl-pem); it checks
# a CRL's signature only against trusted certificates, so the intermediate
# is given as trusted there.
withcrl() {
  python3 - "$@" <<'PY2'
import sys, base64
src, out, crls = sys.argv[1], sys.argv[2], sys.argv[3:]
text = open(src, encoding='utf-8').read()
add = ''.join('<ds:X509CRL>%s</ds:X509CRL>' % base64.encodebytes(open('crl/%s.der' % c, 'rb').read()).decode().strip()
              for c in crls)
assert text.count('</ds:X509Data>') == 1
open(out, 'w', encoding='utf-8', newline='').write(text.replace('</ds:X509Data>', add + '</ds:X509Data>'))
PY2
}
# check yes|no DOC CRL [xmlsec1 options]: xmlsec1's own verdict must be as given.
check() {
  want=$1 doc=$2 crl=$3
  shift 3
  withcrl "$doc" "$W/check.xml" root $crl
  # shellcheck disable=SC2086
  if xmlsec1 --verify --trusted-pem pki/root.pem --trusted-pem pki/intermediate.pem \
      $XS "$@" "$W/check.xml" >/dev/null 2>&1; then got=yes; else got=no; fi
  [ "$got" = "$want" ] || { echo "xmlsec1 on $doc: expected $want, got $got" >&2; exit 1; }
}

# build NAME SIGNER SIGALG SIGNING-TIME DIGEST CRL: a signed BES receipt.
build() {
  receipt "$(printf '%s' "$1" | sha1sum | cut -c1-32)" "$5" > "$W/$1.receipt"
  template "$2" "$3" "$4" "$W/$1.receipt" "$W/$1.tmpl"
  sign "$2" "$W/$1.tmpl" "$W/$1.signed"
  unsigned "$W/$1.signed" "$1.xml" "$6"
}
# stamp NAME OUT TIME [BROKEN]: NAME.xml with a signature time-stamp.
stamp() {
  sigvalue "$W/$1.signed" "$W/$1.sv"
  if [ -n "${4:-}" ]; then printf ' ' >> "$W/$1.sv"; fi
  token "$W/$1.sv" "$3" "$W/$2.tok"
  unsigned "$W/$1.signed" "$2.xml" "$(sed -n 's/^CRL=//p' "$W/$1.crl")" "$W/$2.tok"
}

# reshaped TAG OUT [WORD] < EDIT: a BES receipt of signer-rsa (its NumerReferencyjny from TAG)
# whose template the Python EDIT (standard input; arguments: the template's and the
# receipt element's files, and WORD) changes before xmlsec1 signs it; the signed form stays in
# $W/TAG.signed.
reshaped() {
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  receipt "$(printf '%s' "$1" | sha1sum | cut -c1-32)" "$sha256" > "$W/$1.receipt"
  template signer-rsa rsa-sha256 2026-11-02T09:15:00Z "$W/$1.receipt" "$W/$1.tmpl"
  python3 - "$W/$1.tmpl" "$W/$1.receipt" "${3:-}"
  sign signer-rsa "$W/$1.tmpl" "$W/$1.signed"
  unsigned "$W/$1.signed" "$2" intermediate-revoked
}

# shapes: the receipts whose signed object is referenced otherwise than upo.xml's.
shapes() {
  reshaped bez-typu upo-bez-typu.xml <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
typed = '<ds:Reference URI="#Dokument-0" Type="http://www.w3.org/2000/09/xmldsig#Object">'
assert text.count(typed) == 1
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text.replace(typed, '<ds:Reference URI="#Dokument-0">'))
PY
  reshaped enveloped upo-enveloped.xml <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
receipt = open(sys.argv[2], encoding='utf-8').read()
ENV = 'http://www.w3.org/2000/09/xmldsig#enveloped-signature'
C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'
text = text.replace('<?xml version="1.0" encoding="UTF-8"?>\n', '', 1).rstrip('\n')
text, n = re.subn(r'<ds:Reference URI="#Dokument-0"[^>]*><ds:Transforms>.*?</ds:Transforms>',
                  '<ds:Reference URI=""><ds:Transforms><ds:Transform Algorithm="%s"/>'
                  '<ds:Transform Algorithm="%s"/></ds:Transforms>' % (ENV, C14N), text, 1, re.S)
assert n == 1
text, n = re.subn(r'<ds:Object Id="Dokument-0".*?</ds:Object>', '', text, 1, re.S)
assert n == 1
text, n = re.subn(r'<xades:SignedDataObjectProperties>.*?</xades:SignedDataObjectProperties>', '', text, 1, re.S)
assert n == 1
end = '</pot:Potwierdzenie>'
assert receipt.count(end) == 1
doc = '<?xml version="1.0" encoding="UTF-8"?>\n' + receipt.replace(end, text + end) + '\n'
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(doc)
PY
  # No MimeType: the receipt element with its own default namespace, white space around it.
  reshaped bez-mime upo-bez-mime.xml <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
receipt = open(sys.argv[2], encoding='utf-8').read()
text, n = re.subn(r'<ds:Reference URI="#Dokument-0"[^>]*><ds:Transforms>.*?</ds:Transforms>',
                  '<ds:Reference URI="#Dokument">', text, 1, re.S)
assert n == 1
old = '<ds:Object Id="Dokument-0" MimeType="text/xml">%s</ds:Object>' % receipt
assert text.count(old) == 1
plain = receipt.replace('<pot:', '<').replace('</pot:', '</').replace('xmlns:pot=', 'xmlns=', 1)
text = text.replace(old, '<ds:Object Id="Dokument">\n  %s\n</ds:Object>' % plain)
assert text.count('ObjectReference="#Dokument-0"') == 1
text = text.replace('ObjectReference="#Dokument-0"', 'ObjectReference="#Dokument"')
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text)
PY
  echo CRL=intermediate-revoked > "$W/bez-mime.crl"
  stamp bez-mime upo-t-bez-mime '2026-11-02 09:15:30'
  check yes upo-bez-typu.xml intermediate-revoked
  check yes upo-enveloped.xml intermediate-revoked
  check yes upo-bez-mime.xml intermediate-revoked
  check yes upo-t-bez-mime.xml intermediate-revoked
}

# namespaces: receipts whose signed element takes its namespace from a declaration above it.
namespaces() {
  for shape in podpis obiekt dokument domyslna; do
    reshaped "ns-$shape" "upo-ns-$shape.xml" "$shape" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
receipt = open(sys.argv[2], encoding='utf-8').read()
shape = sys.argv[3]
URI = 'http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/'
DECL = ' xmlns:pot="%s"' % URI
SIG = '<ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#"'
OBJ = '<ds:Object Id="Dokument-0" MimeType="text/xml">'
assert receipt.count(DECL) == 1 and text.count(SIG) == 1 and text.count(OBJ) == 1
bare = receipt.replace(DECL, '', 1)
text = text.replace(receipt, bare, 1)
if shape == 'podpis':
  text = text.replace(SIG, SIG + DECL, 1)
elif shape == 'obiekt':
  text = text.replace(OBJ, '<ds:Object%s Id="Dokument-0">' % DECL, 1)
elif shape == 'dokument':
  head = '<?xml version="1.0" encoding="UTF-8"?>\n'
  assert text.startswith(head)
  text = head + '<Koperta%s>' % DECL + text[len(head):].rstrip('\n') + '</Koperta>\n'
else:
  plain = bare.replace('<pot:', '<').replace('</pot:', '</')
  text = text.replace(bare, plain, 1)
  text = text.replace(OBJ, '<ds:Object xmlns="%s" Id="Dokument-0" MimeType="application/xml">' % URI, 1)
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text)
PY
    check yes "upo-ns-$shape.xml" intermediate-revoked
  done
}

# crafted: receipts whose signature's structure the library refuses or whose object
# reference hands out nothing signed, made from upo.xml.
crafted() {
  : > deklaracja-pusta.xml
  python3 - <<'PY'
text = open('upo.xml', encoding='utf-8').read()
REF = '<ds:Reference URI="#Dokument-0" Type="http://www.w3.org/2000/09/xmldsig#Object"><ds:Transforms>'
assert text.count(REF) == 1
ENV = '<ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>'
XSLT = ('<ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xslt-19991116">'
        '<xsl:stylesheet xmlns:xsl="http://www.w3.org/1999/XSL/Transform" version="1.0">'
        '<xsl:template match="/"><xsl:copy-of select="document(\'file:///etc/hostname\')"/>'
        '</xsl:template></xsl:stylesheet></ds:Transform>')
XPATH = ('<ds:Transform Algorithm="http://www.w3.org/TR/1999/REC-xpath-19991116">'
         '<ds:XPath>count(document(\'file:///etc/hostname\')) = 0</ds:XPath></ds:Transform>')
OBJ = '<ds:Object Id="Dokument-0"'
def put(name, new):
  assert new != text
  open(name, 'w', encoding='utf-8', newline='').write(new)
put('upo-env-obiekt.xml', text.replace(REF, REF + ENV))
put('upo-uri-wzgledny.xml', text.replace('URI="#Dokument-0" Type', 'URI="deklaracja.xml" Type'))
put('upo-uri-zewnetrzny.xml', text.replace('URI="#Dokument-0" Type', 'URI="http://127.0.0.1:9/upo.xml" Type'))
put('upo-podwojne-id.xml', text.replace(OBJ, OBJ + '><pot:Potwierdzenie xmlns:pot="http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/"/></ds:Object>' + OBJ, 1))
put('upo-xslt.xml', text.replace(REF, REF + XSLT))
put('upo-xpath.xml', text.replace(REF, REF + XPATH))
PY
  # The enveloped transform signed as it stands: the object lies inside the signature, which
  # the transform removes, so the digest covers no octet of it.
  reshaped env-obiekt upo-env-obiekt-podpisany.xml <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
REF = '<ds:Reference URI="#Dokument-0" Type="http://www.w3.org/2000/09/xmldsig#Object"><ds:Transforms>'
assert text.count(REF) == 1
ENV = '<ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>'
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text.replace(REF, REF + ENV))
PY
  check no upo-env-obiekt.xml intermediate-revoked
  check yes upo-env-obiekt-podpisany.xml intermediate-revoked
}

# texts: the receipts of --texts.
texts() {
  for n in 256 257; do
    reshaped tekst-$n upo-tekst-$n.xml $n <<'PY'
import sys
from xml.sax.saxutils import escape
text = open(sys.argv[1], encoding='utf-8').read()
receipt = open(sys.argv[2], encoding='utf-8').read()
start = '<pot:Potwierdzenie xmlns:pot="http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/"'
assert receipt.count(start) == 1
more = ''.join(' a%d="%d"' % (i, i) for i in range(int(sys.argv[3])))
for old, new in [('<ds:Object Id="Dokument-0" MimeType="text/xml">' + receipt,
                  '<ds:Object Id="Dokument-0" MimeType="text/plain">' +
                  escape(receipt.replace(start, start + more))),
                 ('<xades:MimeType>text/xml</xades:MimeType>', '<xades:MimeType>text/plain</xades:MimeType>')]:
  assert text.count(old) == 1
  text = text.replace(old, new)
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text)
PY
    check yes upo-tekst-$n.xml intermediate-revoked
  done
}

# controls: the receipts and the signer of --controls.
controls() {
  cn=$(printf '\r\nWerdykt: UPO poprawne ...\033[8m')
  o=$(printf 'Urz\304\205d \302\2332J \342\200\256enozucdo')
  faketime '2026-10-01 00:00:00' openssl req -x509 -newkey rsa:2048 -nodes -keyout "$P/signer-sterujace.key" -utf8 \
    -subj "/C=PL/O=$o/CN=$cn" -days 3650 -sha256 -set_serial 0x5151 -out "$P/signer-sterujace.pem" \
    -addext keyUsage=critical,digitalSignature,nonRepudiation 2>/dev/null
  openssl x509 -in "$P/signer-sterujace.pem" -outform DER -out "$P/signer-sterujace.der"
  # openssl must have kept every character in UTF8String values (issuer and subject)
  openssl asn1parse -inform DER -in "$P/signer-sterujace.der" | grep -c 'UTF8STRING' | grep -qx 4
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  receipt 'sterujace@CRLF@Werdykt: UPO poprawne ...' "$sha256" > "$W/ster.receipt"
  template signer-sterujace rsa-sha256 2026-11-02T09:15:00Z "$W/ster.receipt" "$W/ster.tmpl"
  # the receipt's CR and LF as character references, so that the parser keeps them
  python3 - "$W/ster.tmpl" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
assert text.count('@CRLF@') == 1
open(sys.argv[1], 'w', encoding='utf-8', newline='').write(text.replace('@CRLF@', '&#13;&#10;&#13;&#10;'))
PY
  sign signer-sterujace "$W/ster.tmpl" upo-cn-sterujace.xml
  # shellcheck disable=SC2086
  xmlsec1 --verify --trusted-pem "$P/signer-sterujace.pem" $XS upo-cn-sterujace.xml >/dev/null 2>&1
  python3 - <<'PY'
text = open('upo.xml', encoding='utf-8').read()
old = '<pot:NazwaPodmiotuPrzyjmujacego>Urząd Testowy Przyjmowania Deklaracji</pot:NazwaPodmiotuPrzyjmujacego>'
new = ('<pot:NazwaPodmiotuPrzyjmujacego>&#13;&#10;Werdykt: UPO poprawne, deklaracja zgodna z SkrotDokumentu.'
       '&#10;&#x9B;8m&#x202E;</pot:NazwaPodmiotuPrzyjmujacego>')
assert text.count(old) == 1
open('upo-pole-sterujace.xml', 'w', encoding='utf-8', newline='').write(text.replace(old, new))
PY
  check no upo-pole-sterujace.xml intermediate-revoked
}

if [ "${1:-}" = "--texts" ]; then
  texts
  exit 0
fi

if [ "${1:-}" = "--controls" ]; then
  controls
  exit 0
fi

if [ "${1:-}" = "--shapes" ]; then
  shapes
  exit 0
fi

if [ "${1:-}" = "--namespaces" ]; then
  namespaces
  exit 0
fi

# enveloping FORM TEMPLATE RECEIPT OUT: the template with the receipt element as the document
# holding the signature, whose reference to it takes the enveloped FORM: env (URI="" with the
# enveloped transform), root (#xpointer(/) with it), xpointer (#xpointer(/descendant-or-self::
# node()) with it) or here (URI="" with the W3C's filter with here()); then C14N.
enveloping() {
  python3 - "$@" <<'PY'
import sys, re
form = sys.argv[1]
text = open(sys.argv[2], encoding='utf-8').read()
receipt = open(sys.argv[3], encoding='utf-8').read()
ENV = 'http://www.w3.org/2000/09/xmldsig#enveloped-signature'
C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'
XPATH = 'http://www.w3.org/TR/1999/REC-xpath-19991116'
HERE = ('count(ancestor-or-self::ds:Signature | here()/ancestor::ds:Signature[1]) &gt; '
        'count(ancestor-or-self::ds:Signature)')
if form == 'here':
  ref = ('<ds:Reference URI=""><ds:Transforms><ds:Transform Algorithm="%s"><ds:XPath>%s</ds:XPath>'
         '</ds:Transform><ds:Transform Algorithm="%s"/></ds:Transforms>' % (XPATH, HERE, C14N))
else:
  uri = {'env': '', 'root': '#xpointer(/)', 'xpointer': '#xpointer(/descendant-or-self::node())'}[form]
  ref = ('<ds:Reference URI="%s"><ds:Transforms>'
         '<ds:Transform Algorithm="%s"/><ds:Transform Algorithm="%s"/></ds:Transforms>' % (uri, ENV, C14N))
text = text.replace('<?xml version="1.0" encoding="UTF-8"?>\n', '', 1).rstrip('\n')
text, n = re.subn(r'<ds:Reference URI="#Dokument-0"[^>]*><ds:Transforms>.*?</ds:Transforms>',
                  lambda m: ref, text, 1, re.S)
assert n == 1
text, n = re.subn(r'<ds:Object Id="Dokument-0".*?</ds:Object>', '', text, 1, re.S)
assert n == 1
text, n = re.subn(r'<xades:SignedDataObjectProperties>.*?</xades:SignedDataObjectProperties>', '', text, 1, re.S)
assert n == 1
end = '</pot:Potwierdzenie>'
assert receipt.count(end) == 1
doc = '<?xml version="1.0" encoding="UTF-8"?>\n' + receipt.replace(end, text + end) + '\n'
open(sys.argv[4], 'w', encoding='utf-8', newline='').write(doc)
PY
}

# forms: receipts of about 1 MB (some 10,800 entries) in the enveloped forms signers use: an
# XPointer to the whole document (upo-xpointer-1mb.xml) and the W3C's enveloped XPath
# filter with here() (upo-here-1mb.xml), each with the enveloped-signature transform's
# effect and C14N; checked by xmlsec1.
forms() {
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  for form in xpointer here; do
    receipt "$(printf 'forms-%s' "$form" | sha1sum | cut -c1-32)" "$sha256" 1 elements > "$W/$form.receipt"
    template signer-rsa rsa-sha256 2026-11-02T09:15:00Z "$W/$form.receipt" "$W/$form.tmpl"
    enveloping "$form" "$W/$form.tmpl" "$W/$form.receipt" "$W/$form.tmpl"
    sign signer-rsa "$W/$form.tmpl" "$W/$form.signed"
    unsigned "$W/$form.signed" "upo-$form-1mb.xml" intermediate-revoked
    check yes "upo-$form-1mb.xml" intermediate-revoked
  done
}

# formsmb OUT MB: the five enveloped forms signers use over a receipt of MB megabytes of
# dense rows (with one comment), made when a test runs (too large to keep):
#   OUT/upo-form-env.xml        URI="" with the enveloped-signature transform
#   OUT/upo-form-root.xml       URI="#xpointer(/)" with it (the comment digested)
#   OUT/upo-form-nodes.xml      URI="#xpointer(/descendant-or-self::node())" with it
#   OUT/upo-form-not.xml        URI="" with the XPath filter not(ancestor-or-self::ds:Signature)
#   OUT/upo-form-here.xml       URI="" with the W3C's filter with here(), as signers write it
# xmlsec1 signs the first two; the others select what they select, so their reference is
# written over a copy, and SignedInfo signed again by openssl (xmlsec1's XPath over megabytes
# takes minutes). Small receipts (under 1 MB) are all checked by xmlsec1.
formsmb() {
  out=$1 mb=$2
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  receipt "$(printf 'forms-mb' | sha1sum | cut -c1-32)" "$sha256" "$mb" dense > "$W/mb.receipt"
  template signer-rsa rsa-sha256 2026-11-02T09:15:00Z "$W/mb.receipt" "$W/mb.tmpl"
  for form in env root; do
    enveloping "$form" "$W/mb.tmpl" "$W/mb.receipt" "$W/$form.tmpl"
    sign signer-rsa "$W/$form.tmpl" "$W/$form.signed"
  done
  for form in nodes not here; do
    case $form in nodes) from=root ;; *) from=env ;; esac
    python3 - "$W/$from.signed" "$form" "$W/$form.tmpl" "$W/$form.si" <<'PY'
import sys, re
from xml.dom import minidom
text = open(sys.argv[1], encoding='utf-8').read()
form = sys.argv[2]
XPATH = 'http://www.w3.org/TR/1999/REC-xpath-19991116'
C14N = 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'
DS = 'http://www.w3.org/2000/09/xmldsig#'
ENV = '<ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>'
if form == 'nodes':
  old, new = '<ds:Reference URI="#xpointer(/)">', '<ds:Reference URI="#xpointer(/descendant-or-self::node())">'
else:
  filt = ('not(ancestor-or-self::ds:Signature)' if form == 'not' else
          # XML-DSig's own example, as signers copy it
          '\n   count(ancestor-or-self::dsig:Signature |\n   here()/ancestor::dsig:Signature[1]) &gt;'
          '\n   count(ancestor-or-self::dsig:Signature)')
  decl = ' xmlns:dsig="%s"' % DS if form == 'here' else ''
  old, new = ENV, '<ds:Transform Algorithm="%s"><ds:XPath%s>%s</ds:XPath></ds:Transform>' % (XPATH, decl, filt)
assert text.count(old) == 1
text = text.replace(old, new)
# Canonical XML of SignedInfo: the namespaces in scope (the receipt's and the
# signature's) on it, each other declaration where it changes one; attributes
# (none namespaced) by name; empty elements as pairs; text escaped.
scope = {}
for tag in (re.search(r'<pot:Potwierdzenie\b[^>]*>', text).group(0), re.search(r'<ds:Signature\b[^>]*>', text).group(0)):
  for p, v in re.findall(r'xmlns:([\w.-]+)="([^"]*)"', tag):
    scope[p] = v
si = re.search(r'<ds:SignedInfo\b.*?</ds:SignedInfo>', text, re.S).group(0)
wrap = '<w %s>%s</w>' % (' '.join('xmlns:%s="%s"' % kv for kv in scope.items()), si)
def esc(s, attr):
  s = s.replace('&', '&amp;').replace('<', '&lt;')
  if attr:
    return s.replace('"', '&quot;').replace('\t', '&#x9;').replace('\n', '&#xA;').replace('\r', '&#xD;')
  return s.replace('>', '&gt;').replace('\r', '&#xD;')
def c14n(e, rendered, top):
  own, attrs = {}, []
  for name, value in e.attributes.items():
    if name.startswith('xmlns:'):
      own[name[6:]] = value
    else:
      assert name != 'xmlns' and ':' not in name
      attrs.append((name, value))
  visible = dict(scope, **own) if top else {p: v for p, v in own.items() if rendered.get(p) != v}
  now = dict(rendered, **visible)
  out = '<' + e.tagName
  out += ''.join(' xmlns:%s="%s"' % (p, esc(v, True)) for p, v in sorted(visible.items()))
  out += ''.join(' %s="%s"' % (n, esc(v, True)) for n, v in sorted(attrs)) + '>'
  for c in e.childNodes:
    if c.nodeType == c.ELEMENT_NODE:
      out += c14n(c, now, False)
    else:
      assert c.nodeType == c.TEXT_NODE
      out += esc(c.data, False)
  return out + '</%s>' % e.tagName
canonical = c14n(minidom.parseString(wrap).documentElement.firstChild, {}, True)
open(sys.argv[3], 'w', encoding='utf-8', newline='').write(text)
open(sys.argv[4], 'wb').write(canonical.encode('utf-8'))
PY
    openssl dgst -sha256 -sign "$P/signer-rsa.key" -out "$W/$form.sv" "$W/$form.si"
    python3 - "$W/$form.tmpl" "$W/$form.sv" "$W/$form.signed" <<'PY'
import sys, re, base64
text = open(sys.argv[1], encoding='utf-8').read()
value = base64.b64encode(open(sys.argv[2], 'rb').read()).decode()
text, n = re.subn(r'(<ds:SignatureValue>)[^<]*(</ds:SignatureValue>)', lambda m: m.group(1) + value + m.group(2), text, 1)
assert n == 1
open(sys.argv[3], 'w', encoding='utf-8', newline='').write(text)
PY
  done
  for form in env root nodes not here; do
    unsigned "$W/$form.signed" "$out/upo-form-$form.xml" intermediate-revoked
    if python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < 1 else 1)" "$mb"; then
      check yes "$out/upo-form-$form.xml" intermediate-revoked
    fi
  done
}

if [ "${1:-}" = "--forms-mb" ]; then
  formsmb "$2" "$3"
  exit 0
fi

if [ "${1:-}" = "--forms" ]; then
  forms
  exit 0
fi

if [ "${1:-}" = "--crafted" ]; then
  crafted
  exit 0
fi

if [ "${1:-}" = "--big" ]; then
  out=$2 mb=$3 shape=${4:-elements}
  receipt "0f1e2d3c4b5a69788796a5b4c3d2e1f0" "$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)" "$mb" "$shape" > "$W/big.receipt"
  template signer-rsa rsa-sha256 2026-11-02T09:15:00Z "$W/big.receipt" "$W/big.tmpl"
  sign signer-rsa "$W/big.tmpl" "$W/big.signed"
  unsigned "$W/big.signed" "$out" intermediate-revoked
  exit 0
fi

if [ "${1:-}" = "--bare" ]; then
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  receipt "$(printf 'bare' | sha1sum | cut -c1-32)" "$sha256" > "$W/bare.receipt"
  template signer-rsa rsa-sha256 2026-11-02T09:15:00Z "$W/bare.receipt" "$W/bare.tmpl"
  sign signer-rsa "$W/bare.tmpl" upo-bare.xml
  sigvalue upo-bare.xml "$W/bare.sv"
  token "$W/bare.sv" '2026-11-02 09:15:30' "$W/bare.tok"
  unsigned upo-bare.xml upo-t-bare.xml - "$W/bare.tok"
  sed 's|<ds:X509Data/>|<ds:X509Data><ds:X509IssuerSerial/></ds:X509Data>|' "$W/bare.tmpl" > "$W/is.tmpl"
  sign signer-rsa "$W/is.tmpl" upo-issuer-serial.xml
  python3 - "$W/bare.tmpl" "$W/plain.tmpl" <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace(' Id="ID-UPO-Signature"', '', 1)
text, n = re.subn(r'<ds:Reference URI="#ID-UPO-SignedProperties".*?</ds:Reference>', '', text, 1, re.S)
assert n == 1
text, n = re.subn(r'<ds:Object><xades:QualifyingProperties.*?</ds:Object>', '', text, 1, re.S)
assert n == 1
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
  sign signer-rsa "$W/plain.tmpl" upo-plain.xml
  for f in upo-bare.xml upo-t-bare.xml upo-plain.xml; do check yes $f intermediate-revoked; done
  check yes upo-issuer-serial.xml intermediate-revoked --untrusted-pem pki/signer-rsa.pem
  exit 0
fi

if [ "${1:-}" = "--ocsp" ]; then
  url=$2 out=$3 P=$W/pki
  mkdir -p "$P"
  printf 'basicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature,nonRepudiation\n' > "$W/aia.ext"
  printf 'authorityInfoAccess = OCSP;URI:%s\n' "$url" >> "$W/aia.ext"
  : > "$out/index.txt"
  sha256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
  # The keys of signer-rsa and signer-revoked under new serial numbers.
  for entry in good:signer-rsa:7001:V revoked:signer-revoked:7002:R; do
    name=${entry%%:*} rest=${entry#*:}
    key=${rest%%:*} rest=${rest#*:}
    serial=${rest%%:*} state=${rest#*:}
    cp "pki/$key.key" "$P/$name.key"
    openssl req -new -key "$P/$name.key" -out "$W/$name.csr" \
      -subj "/C=PL/O=Urzad Testowy Przyjmowania Deklaracji/OU=Bramka/CN=Serwer UPO $name"
    openssl x509 -req -in "$W/$name.csr" -CA pki/intermediate.pem -CAkey pki/intermediate.key \
      -set_serial "0x$serial" -days 3650 -sha256 -extfile "$W/aia.ext" -out "$P/$name.pem" 2>/dev/null
    openssl x509 -in "$P/$name.pem" -outform DER -out "$P/$name.der"
    subject=$(openssl x509 -in "$P/$name.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
    revoked=
    [ "$state" = R ] && revoked=261101000000Z
    printf '%s\t%s\t%s\t%s\tunknown\t%s\n' "$state" 361201000000Z "$revoked" "$serial" "$subject" \
      >> "$out/index.txt"
    receipt "$(printf '%s' "$name" | sha1sum | cut -c1-32)" "$sha256" > "$W/$name.receipt"
    template "$name" rsa-sha256 2026-11-02T09:15:00Z "$W/$name.receipt" "$W/$name.tmpl"
    sign "$name" "$W/$name.tmpl" "$out/upo-ocsp-$name.xml"
  done
  exit 0
fi

cat > deklaracja.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Deklaracja xmlns="http://e-deklaracje.example.pl/Repozytorium/PIT-37/">
  <Naglowek>
    <KodFormularza kodSystemowy="PIT-37 (26)" wersjaSchemy="1-0E">PIT-37</KodFormularza>
    <WariantFormularza>26</WariantFormularza>
    <CelZlozenia poz="P_6">1</CelZlozenia>
    <Rok>2025</Rok>
    <KodUrzedu>1471</KodUrzedu>
  </Naglowek>
  <Podmiot1 rola="Podatnik">
    <NIP>5270103391</NIP>
    <ImiePierwsze>JAN</ImiePierwsze>
    <Nazwisko>KOWALSKI</Nazwisko>
    <DataUrodzenia>1985-01-01</DataUrodzenia>
  </Podmiot1>
  <PozycjeSzczegolowe>
    <P_29>84250.00</P_29>
    <P_30>6912.00</P_30>
    <P_127>1245</P_127>
  </PozycjeSzczegolowe>
  <Pouczenie>1</Pouczenie>
</Deklaracja>
XML
sed 's|<P_127>1245</P_127>|<P_127>1254</P_127>|' deklaracja.xml > deklaracja-zmieniona.xml
cmp -s deklaracja.xml deklaracja-zmieniona.xml && { echo "declaration not changed" >&2; exit 1; }
SHA256=$(openssl dgst -sha256 -r deklaracja.xml | cut -c1-64 | tr a-f A-F)
SHA1=$(openssl dgst -sha1 -r deklaracja.xml | cut -c1-40 | tr a-f A-F)
printf '%s\n' "$SHA256" > deklaracja.sha256
printf '%s\n' "$SHA1" > deklaracja.sha1

T0=2026-11-02T09:15:00Z    # signing time of the live receipts
T1='2026-11-02 09:15:30'   # their time-stamps
E0=2020-06-15T10:00:00Z    # signing time of the expired signer
E1='2020-06-15 10:00:30'   # its time-stamp, before the certificate expired

build upo signer-rsa rsa-sha256 $T0 "$SHA256" intermediate-revoked
echo CRL=intermediate-revoked > "$W/upo.crl"
build upo-ec signer-ec ecdsa-sha256 $T0 "$SHA1" intermediate-revoked
build upo-revoked signer-revoked rsa-sha256 $T0 "$SHA256" intermediate-revoked
build upo-hold signer-hold rsa-sha256 $T0 "$SHA256" intermediate-hold
build upo-expired signer-expired rsa-sha256 $E0 "$SHA256" intermediate-revoked
echo CRL=intermediate-revoked > "$W/upo-expired.crl"
stamp upo upo-t "$T1"
stamp upo upo-t-bad-imprint "$T1" broken
stamp upo-expired upo-expired-t-late-crl "$E1"
echo CRL=intermediate-2020,intermediate-revoked > "$W/upo-expired.crl"
stamp upo-expired upo-expired-t "$E1"
python3 - upo.xml upo-zmienione-pole.xml <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
new = re.sub(r'(<pot:NumerReferencyjny>)([0-9a-f])', lambda m: m.group(1) + ('1' if m.group(2) != '1' else '2'), text, 1)
assert new != text
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(new)
PY

shapes
namespaces
crafted
texts
controls

# What xmlsec1 (OpenSSL's path and CRL checks) says of each.
R=intermediate-revoked
check yes upo.xml $R
check yes upo-ec.xml $R
check yes upo-t.xml $R
check yes upo-t-bad-imprint.xml $R
check no upo-zmienione-pole.xml $R
check no upo-revoked.xml $R
check yes upo-revoked.xml intermediate-hold
check no upo-hold.xml intermediate-hold
check no upo-expired.xml $R
check yes upo-expired.xml $R --verification-gmt-time "2020-06-15 10:00:30"
check yes upo-expired-t.xml intermediate-2020 --verification-gmt-time "2020-07-02 00:00:00"
echo "receipts made in $(pwd)"
