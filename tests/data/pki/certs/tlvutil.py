# DER header helpers of the fixture scripts in this folder.
def tlv(b, i):
    """(header size, content length) of the TLV at b[i]."""
    n = b[i + 1]; h = 2
    if n & 0x80:
        k = n & 0x7f; n = int.from_bytes(b[i + 2:i + 2 + k], 'big'); h = 2 + k
    return h, n

def hdr(tag, n):
    """Identifier and definite length octets for n content octets."""
    if n < 128: return bytes([tag, n])
    l = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([tag, 0x80 | len(l)]) + l
