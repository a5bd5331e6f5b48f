#!/usr/bin/env python3
# Hostile variants of a receipt (tests/data/upo/upo.xml) for scripts/hostile-receipts.py:
# deep and wide trees, attributes and namespace declarations by the ten thousand, XPath
# filters over 100,000 elements, entity bombs, external entities, 10,000 references, many
# Ids under 1,000 references, base64 texts up to 50 MB, long literals and prefixes in
# XPointers and filters, long prefixes declared at the root under a filter's canonicaliser.
import re, os, sys, base64
src = open(sys.argv[1], encoding='utf-8').read()  # usage: genhostile.py RECEIPT.xml OUT_FOLDER (the project's tests/data/upo/upo.xml)
out = sys.argv[2]
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
