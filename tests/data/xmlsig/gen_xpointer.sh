#!/usr/bin/env bash
# Same-document XPointer reference fixtures (xpointer/, or the directory
# given: xpointer-mb/): an RSA key and a
# self-signed certificate made by openssl (kept as rsa.der), and each template
# <dir>/<name>.tmpl signed by xmlsec1 over its "#xpointer(...)" reference,
# then verified by xmlsec1 with --store-references: the octets it digested for
# reference N are kept as <dir>/<name>.refN (for documents under 200 KB; the
# larger ones are checked by their digests alone, to keep git small). xmlsec1 reads such a reference
# as each selected node with its descendants, comments included (an attribute
# alone is itself), and takes the URI text after "#" as written.
# A template with a "<!-- body:N -->" line has it replaced by an invoice-like
# body of N items made below (some 0.6 KB each: Ids, attributes, texts, the inv
# prefix, comments, nesting to six levels), so that documents of realistic size
# stay small in git; "<!-- rows:N -->" by an attachment of N short rows under
# one element (the wide level of a receipt with a table). The Id attribute of inv:Body is declared an ID for
# xmlsec1's id(): a document without a DTD has none otherwise.
# Outputs are committed (signatures are not reproducible).
set -euo pipefail
cd "$(dirname "$0")/${1:-xpointer}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/rsa.key" -subj "/CN=XPointer signer/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:FALSE -out "$work/rsa.pem" 2>/dev/null
openssl x509 -in "$work/rsa.pem" -outform DER -out rsa.der
ids=(--id-attr:Id urn:tal:invoice:Body)
for tmpl in *.tmpl; do
  name=$(basename "$tmpl" .tmpl)
  python3 - "$tmpl" > "$work/$name.tmpl" <<'BODY'
import re, sys
kinds = ['towary', 'usługi', 'transport', 'serwis']
def item(n):
    return (
        '      <inv:Item Id="item-%04d" line="%d">\n'
        '        <inv:Product code="P-%05d" unit="%s"><inv:Name>Towar nr %d, partia %s-%02d</inv:Name></inv:Product>\n'
        '        <inv:Amount currency="PLN" vat="%d">%d.%02d</inv:Amount>\n'
        '        <Note xml:lang="pl">Pozycja %d: dostawa do magazynu w Łodzi &amp; Gdańsku, '
        'termin płatności %d dni od daty wystawienia faktury; reklamacje przyjmuje dział '
        'obsługi klienta pod numerem zamówienia ZAM/%d/2024, w dni robocze od 8:00 do 16:00 '
        '(z wyjątkiem świąt), a zwroty towaru w oryginalnym opakowaniu wraz z dowodem zakupu.</Note>\n'
        '      </inv:Item>\n' % (n, n, 7 * n + 3, ['szt.', 'kg', 'h'][n % 3], n, 'ABCD'[n % 4], n % 97,
                              [23, 8, 5][n % 3], (n * 37) % 900 + 10, (n * 13) % 100, n,
                              [14, 30, 60][n % 3], 1000 + n))
def body(count):
    out = ['  <inv:Header Id="header" version="2.1">\n',
           '    <inv:Issued>2024-03-01</inv:Issued>\n']
    for pid, name, street, city, code in (
            ('seller', 'Firma Handlowa &amp; Syn sp. z o.o.', 'ul. Długa 7/12', 'Warszawa', '00-950'),
            ('buyer', 'Przedsiębiorstwo Usługowe "Kowalski"', 'al. Zielona 3', 'Kraków', '30-001')):
        out.append('    <inv:Party Id="%s" role="%s"><inv:Name>%s</inv:Name><inv:Address>'
                   '<inv:Street>%s</inv:Street><inv:City postcode="%s">%s</inv:City></inv:Address>'
                   '</inv:Party>\n' % (pid, pid, name, street, code, city))
    out.append('  </inv:Header>\n  <inv:Body Id="body">\n')
    for s in range(0, count, 20):
        out.append('    <inv:Section Id="sec-%02d" kind="%s">\n      <!-- sekcja %d -->\n'
                   % (s // 20 + 1, kinds[(s // 20) % 4], s // 20 + 1))
        out.extend(item(n) for n in range(s + 1, min(s + 20, count) + 1))
        out.append('    </inv:Section>\n')
    out.append('  </inv:Body>\n  <inv:Summary Id="summary"><inv:Items>%d</inv:Items>'
               '<inv:Total currency="PLN">%d.00</inv:Total></inv:Summary>\n' % (count, 431 * count))
    return ''.join(out)
def rows(count):
    return ('  <Attachment Id="attachment">\n' +
            ''.join('    <Row n="%d">wiersz %d: towar, ilość, cena</Row>\n' % (r, r)
                    for r in range(count)) + '  </Attachment>\n')
text = open(sys.argv[1], encoding='utf-8').read()
text = re.sub(r'<!-- body:(\d+) -->\n', lambda m: body(int(m.group(1))), text)
sys.stdout.write(re.sub(r'<!-- rows:(\d+) -->\n', lambda m: rows(int(m.group(1))), text))
BODY
  xmlsec1 --sign "${ids[@]}" --privkey-pem "$work/rsa.key,$work/rsa.pem" --output "$name.xml" \
    "$work/$name.tmpl"
  xmlsec1 --verify "${ids[@]}" --trusted-pem "$work/rsa.pem" --store-references --print-debug \
    "$name.xml" > "$work/$name.dbg" 2>&1
  python3 - "$work/$name.dbg" "$name" <<'PY'
import os, sys
text = open(sys.argv[1], 'rb').read()
start, end = b'== PreDigest data - start buffer:\n', b'\n== PreDigest data - end buffer'
assert b'Status: succeeded' in text, sys.argv[2]
pos, n = 0, 0
while True:
    i = text.find(start, pos)
    if i < 0:
        break
    j = text.find(end, i)
    if os.path.getsize(sys.argv[2] + '.xml') < 200000:
        open('%s.ref%d' % (sys.argv[2], n), 'wb').write(text[i + len(start):j])
    pos, n = j + len(end), n + 1
assert n > 0, sys.argv[2]
PY
done
