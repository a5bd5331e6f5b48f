#!/bin/sh
# Writes explicit_params.txt: for every curve `openssl ecparam -list_curves` names, one line
# "name named-DER explicit-DER" in hexadecimal, where named-DER is the ECParameters openssl
# writes by default (the OID, or the explicit form for curves without one) and explicit-DER
# the SpecifiedECDomain of `-param_enc explicit`. Curves openssl cannot write explicitly are
# left out.
set -e
D=$(dirname "$0")
out="$D/explicit_params.txt"
{
  echo "# $(openssl version | cut -d' ' -f1-2): name named-DER explicit-DER (make_explicit_params.sh)"
  openssl ecparam -list_curves | sed -n 's/^ *\([A-Za-z0-9_-]*\) *:.*/\1/p' | while read -r c; do
    named=$(openssl ecparam -name "$c" -outform DER 2>/dev/null | od -An -v -tx1 | tr -d ' \n') || continue
    explicit=$(openssl ecparam -name "$c" -param_enc explicit -outform DER 2>/dev/null |
               od -An -v -tx1 | tr -d ' \n') || continue
    [ -n "$named" ] && [ -n "$explicit" ] && echo "$c $named $explicit"
  done
} > "$out"
