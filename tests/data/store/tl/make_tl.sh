#!/usr/bin/env bash
# Makes the trusted-list fixtures with OpenSSL and the element names of ETSI
# TS 119 612 (namespace of TS 102 231 v3): certificates of a qualified CA, two
# other CAs, a TSA and an OCSP responder (NAME.der, the DER that OpenSSL wrote),
# and the lists:
#   main.xml      three providers: services of several types and statuses,
#                 supply points, certificate text over lines without padding,
#                 a service without ServiceDigitalIdentity, one whose identity
#                 has only a subject name, one with two DigitalIds, a
#                 TSPService without ServiceInformation, a provider without
#                 TSPServices; the root carries a namespace prefix;
#   en_only.xml   the operator's name in English only, one CA/QC service;
#   bad_*.xml     one fault each, after one good service (so the reader keeps
#                 one record before the fault);
#   no_name.xml   a list without an operator's name.
# expected.txt lists, per service of main.xml in document order:
#   type|status|certificate file or -|subject name|supply points (comma)|index
# Run from this folder; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ext.cnf" <<'X'
[tsa]
basicConstraints=critical,CA:FALSE
extendedKeyUsage=critical,timeStamping
[ocsp]
basicConstraints=critical,CA:FALSE
extendedKeyUsage=critical,OCSPSigning
[user]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
X

selfsigned() {  # name subject
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$work/$1.key" -subj "$2" -days 3650 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -outform DER -out "$1.der" 2>/dev/null
}
issued() {  # name subject issuer section
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$work/$1.key" -subj "$2" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$3.der" -CAform DER -CAkey "$work/$3.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 3650 -sha256 \
    -extfile "$work/ext.cnf" -extensions "$4" -outform DER -out "$1.der" 2>/dev/null
}
# The qualified CA's DER is not a multiple of 3 octets long, so its base64 has
# padding for main.xml to leave out (EC-DSA signatures vary in length).
while selfsigned qc_ca "/C=PL/O=Centrum Kwalifikowane/CN=QC Root"; [ $(($(stat -c %s qc_ca.der) % 3)) -eq 0 ]; do :; done
selfsigned pkc_ca "/C=PL/O=Centrum Zwykle/CN=PKC Root"
selfsigned old_ca "/C=PL/O=Centrum Dawne/CN=Old Root"
issued tsa "/C=PL/O=Centrum Kwalifikowane/CN=TSA 1" qc_ca tsa
issued ocsp "/C=PL/O=Centrum Kwalifikowane/CN=OCSP 1" qc_ca ocsp
# Signers under the CA in force and under the one whose accreditation was revoked.
issued user_pkc "/C=PL/CN=Jan Podpisujacy" pkc_ca user
issued user_old "/C=PL/CN=Anna Dawna" old_ca user

b64() { openssl base64 -in "$1.der"; }               # 64 characters a line
b64flat() { openssl base64 -A -in "$1.der"; }        # one line
nopad() { b64 "$1" | tr -d '='; }                    # padding dropped

T=http://uri.etsi.org/TrstSvc/Svctype
S=http://uri.etsi.org/TrstSvc/eSigDir-1999-93-EC-TrustedList/Svcstatus

service() {  # type status identity-xml supply-points-xml ("-": the element left out)
  cat <<X
      <tsl:TSPService>
        <tsl:ServiceInformation>
$( [ "$1" = - ] || echo "          <tsl:ServiceTypeIdentifier>$1</tsl:ServiceTypeIdentifier>")
          <tsl:ServiceName><tsl:Name xml:lang="en">service</tsl:Name></tsl:ServiceName>
$3
$( [ "$2" = - ] || echo "          <tsl:ServiceStatus>$2</tsl:ServiceStatus>")
          <tsl:StatusStartingTime>2020-01-01T00:00:00Z</tsl:StatusStartingTime>
$4
        </tsl:ServiceInformation>
      </tsl:TSPService>
X
}
identity() {  # certificate text, subject name (either may be empty)
  echo "          <tsl:ServiceDigitalIdentity><tsl:DigitalId>"
  [ -n "$1" ] && printf '<tsl:X509Certificate>%s</tsl:X509Certificate>\n' "$1"
  [ -n "$2" ] && printf '<tsl:X509SubjectName>%s</tsl:X509SubjectName>\n' "$2"
  echo "          </tsl:DigitalId></tsl:ServiceDigitalIdentity>"
}
points() {
  echo "          <tsl:ServiceSupplyPoints>"
  for p in "$@"; do echo "            <tsl:ServiceSupplyPoint>$p</tsl:ServiceSupplyPoint>"; done
  echo "          </tsl:ServiceSupplyPoints>"
}
head_xml() {  # operator names xml
  cat <<X
<?xml version="1.0" encoding="UTF-8"?>
<tsl:TrustServiceStatusList xmlns:tsl="http://uri.etsi.org/02231/v2#" Id="TSL" TSLTag="http://uri.etsi.org/19612/TSLTag">
  <tsl:SchemeInformation>
    <tsl:TSLVersionIdentifier>5</tsl:TSLVersionIdentifier>
    <tsl:TSLSequenceNumber>1</tsl:TSLSequenceNumber>
    <tsl:SchemeOperatorName>$1</tsl:SchemeOperatorName>
    <tsl:SchemeTerritory>PL</tsl:SchemeTerritory>
  </tsl:SchemeInformation>
  <tsl:TrustServiceProviderList>
X
}
provider_open() {
  printf '    <tsl:TrustServiceProvider>\n      <tsl:TSPInformation><tsl:TSPName><tsl:Name xml:lang="en">%s</tsl:Name></tsl:TSPName></tsl:TSPInformation>\n      <tsl:TSPServices>\n' "$1"
}
provider_close() { printf '      </tsl:TSPServices>\n    </tsl:TrustServiceProvider>\n'; }
tail_xml() { printf '  </tsl:TrustServiceProviderList>\n</tsl:TrustServiceStatusList>\n'; }
NAMES='<tsl:Name xml:lang="en">Ministry of Digital Affairs</tsl:Name><tsl:Name xml:lang="pl">Minister Cyfryzacji</tsl:Name>'

{
  head_xml "$NAMES"
  provider_open "Centrum Kwalifikowane"
  service "$T/CA/QC" "$S/accredited" "$(identity "$(nopad qc_ca)" "CN=QC Root,O=Centrum Kwalifikowane,C=PL")" \
    "$(points http://qc.example/crl http://qc.example/ocsp)"
  service "$T/TSA" "
              $S/undersupervision
          " "$(identity "$(b64flat tsa)" "")" "$(points http://tsa.example/)"
  service "$T/Certstatus/OCSP/QC" "$S/accredited" "$(identity "$(b64 ocsp)" "")" ""
  service "$T/Certstatus/CRL" "$S/accredited" "" "$(points http://qc.example/crl)"
  provider_close
  provider_open "Centrum Zwykle"
  service "$T/CA/PKC" "$S/undersupervision" "$(identity "" "CN=No Certificate")" ""
  printf '      <tsl:TSPService><tsl:ServiceHistory/></tsl:TSPService>\n'
  service "$T/CA/PKC" "$S/accreditationrevoked" "$(identity "$(b64 old_ca)" "")" ""
  service "$T/CA/PKC" "$S/supervisionincessation" \
    "          <tsl:ServiceDigitalIdentity><tsl:DigitalId><tsl:X509Certificate>$(b64flat old_ca)</tsl:X509Certificate></tsl:DigitalId><tsl:DigitalId><tsl:X509Certificate>$(b64flat pkc_ca)</tsl:X509Certificate><tsl:X509SubjectName>CN=PKC Root</tsl:X509SubjectName></tsl:DigitalId></tsl:ServiceDigitalIdentity>" ""
  service "$T/Certstatus/OCSP" "$S/supervisionceased" "$(identity "$(b64 ocsp)" "")" ""
  service "http://uri.etsi.org/02231/Svctype/SignaturePolicyAuthority" "$S/supervisionrevoked" "" ""
  provider_close
  printf '    <tsl:TrustServiceProvider><tsl:TSPInformation/></tsl:TrustServiceProvider>\n'
  tail_xml
} > main.xml

cat > expected.txt <<X
2|5|qc_ca|CN=QC Root,O=Centrum Kwalifikowane,C=PL|http://qc.example/crl,http://qc.example/ocsp|caqc
3|1|tsa||http://tsa.example/|tsa
19|5|ocsp|||ocsp
5|5|-||http://qc.example/crl|-
1|1|-|CN=No Certificate||capkc
1|7|old_ca|||capkc
1|2|pkc_ca|CN=PKC Root||capkc
4|3|ocsp|||ocsp
14|4|-|||-
X

one_bad() {  # file, type, status, identity
  { head_xml "$NAMES"; provider_open "P"
    service "$T/CA/QC" "$S/accredited" "$(identity "$(b64 qc_ca)" "")" ""
    service "$2" "$3" "$4" ""
    provider_close; tail_xml; } > "$1"
}
# DER that is no certificate: a SEQUENCE holding an INTEGER.
bad_der=$(printf '\x30\x03\x02\x01\x05' | openssl base64 -A)
one_bad bad_cert.xml "$T/CA/PKC" "$S/accredited" "$(identity "$bad_der" "")"
one_bad bad_b64.xml "$T/CA/PKC" "$S/accredited" "$(identity "MII@@@#" "")"
one_bad bad_type.xml "$T/CA/Unknown" "$S/accredited" ""
one_bad bad_type_blanks.xml " $T/CA/PKC " "$S/accredited" ""
one_bad bad_status.xml "$T/CA/PKC" "$S/granted" ""
# A certificate with a byte of garbage after its DER.
junk=$( (cat pkc_ca.der; printf '\x00') | openssl base64 -A)
one_bad bad_cert_trailing.xml "$T/CA/PKC" "$S/accredited" "$(identity "$junk" "")"
one_bad bad_no_type.xml - "$S/accredited" ""
one_bad bad_no_status.xml "$T/CA/PKC" - ""

{ head_xml '<tsl:Name xml:lang="en">Operator EN</tsl:Name><tsl:Name xml:lang="de">Operator DE</tsl:Name>'
  provider_open "P"
  service "$T/CA/QC" "$S/accredited" "$(identity "$(b64 qc_ca)" "")" ""
  provider_close; tail_xml; } > en_only.xml
{ head_xml '<tsl:Name xml:lang="de">Operator DE</tsl:Name>'; tail_xml; } > no_name.xml
