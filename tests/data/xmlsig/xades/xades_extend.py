"""Helpers of gen.sh: insert unsigned properties into a signed document, the
inclusive canonical form of one of its elements (xmllint --c14n over the
element with the namespaces in scope declared on it), the buffers xmlsec1
prints with --store-references --store-signatures, and the inner
BasicOCSPResponse of an OCSPResponse (plain DER walking)."""
import subprocess
import sys

DS = 'http://www.w3.org/2000/09/xmldsig#'
XADES = 'http://uri.etsi.org/01903/v1.3.2#'


def c14n(element_text, namespaces):
    """Inclusive canonical octets of an element whose ancestors declare only
    `namespaces` (prefix -> URI) and carry no xml: attributes."""
    name_end = next(i for i, ch in enumerate(element_text) if ch in ' >/')
    decls = ''.join(' xmlns:%s="%s"' % (p, u) for p, u in namespaces.items()
                    if ('xmlns:%s=' % p) not in element_text[:element_text.index('>')])
    doc = element_text[:name_end] + decls + element_text[name_end:]
    return subprocess.run(['xmllint', '--c14n', '-'], input=doc.encode('utf-8'),
                          capture_output=True, check=True).stdout


def element(text, start, end):
    """The text from the first `start` to the following `end` (inclusive)."""
    i = text.index(start)
    return text[i:text.index(end, i) + len(end)]


def buffers(debug, tag):
    start, end = b'== %s data - start buffer:\n' % tag, b'\n== %s data - end buffer' % tag
    out, pos = [], 0
    while True:
        i = debug.find(start, pos)
        if i < 0:
            return out
        j = debug.find(end, i)
        out.append(debug[i + len(start):j])
        pos = j + len(end)


def tlv(der, pos):
    """(content start, content end) of the DER value at pos."""
    n = der[pos + 1]
    pos += 2
    if n & 0x80:
        k = n & 0x7f
        n = int.from_bytes(der[pos:pos + k], 'big')
        pos += k
    return pos, pos + n


def basic_of(response):
    s, _ = tlv(response, 0)           # OCSPResponse
    _, e = tlv(response, s)           # responseStatus
    s, _ = tlv(response, e)           # [0]
    s, _ = tlv(response, s)           # ResponseBytes
    _, e = tlv(response, s)           # responseType
    s, e = tlv(response, e)           # response OCTET STRING
    return response[s:e]


if __name__ == '__main__':
    cmd = sys.argv[1]
    if cmd == 'insert':               # insert IN OUT PROPERTIES-FILE
        text = open(sys.argv[2], encoding='utf-8').read()
        props = open(sys.argv[4], encoding='utf-8').read()
        text = text.replace('<xades:UnsignedSignatureProperties/>',
                            '<xades:UnsignedSignatureProperties>' + props +
                            '</xades:UnsignedSignatureProperties>')
        open(sys.argv[3], 'w', encoding='utf-8', newline='').write(text)
    elif cmd == 'append':             # append FILE PROPERTIES-FILE: after the last unsigned property
        text = open(sys.argv[2], encoding='utf-8').read()
        props = open(sys.argv[3], encoding='utf-8').read()
        end = '</xades:UnsignedSignatureProperties>'
        text = text.replace(end, props + end)
        open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
    elif cmd == 'basic':              # basic RESPONSE OUT
        open(sys.argv[3], 'wb').write(basic_of(open(sys.argv[2], 'rb').read()))
    elif cmd == 'sigvalue':           # sigvalue DOC OUT: the canonical ds:SignatureValue
        text = open(sys.argv[2], encoding='utf-8').read()
        sv = element(text, '<ds:SignatureValue', '</ds:SignatureValue>')
        open(sys.argv[3], 'wb').write(c14n(sv, {'ds': DS}))
    elif cmd == 'archive':
        # archive DOC DEBUG OUT PROPERTY...: the octets an archive time-stamp
        # covers: the referenced data and canonical SignedInfo as xmlsec1
        # digested and signed them, then the canonical SignatureValue,
        # KeyInfo and the listed unsigned properties (their exact texts).
        text = open(sys.argv[2], encoding='utf-8').read()
        debug = open(sys.argv[3], 'rb').read()
        assert b'Status: succeeded' in debug
        out = b''.join(buffers(debug, b'PreDigest'))
        out += buffers(debug, b'PreSigned')[0]
        for start, end in (('<ds:SignatureValue', '</ds:SignatureValue>'),
                           ('<ds:KeyInfo', '</ds:KeyInfo>')):
            out += c14n(element(text, start, end), {'ds': DS})
        for name in sys.argv[5:]:
            out += c14n(open(name, encoding='utf-8').read(), {'ds': DS, 'xades': XADES})
        open(sys.argv[4], 'wb').write(out)
