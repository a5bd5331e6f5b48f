#!/usr/bin/env python3
"""A mail relay as Python's email package plays one, for the S/MIME tests.

mail_relay.py relay IN OUT smtp   the message parsed and written again under the SMTP policy
                                  (CR LF line ends; 8-bit parts passed as they are)
mail_relay.py relay IN OUT 7bit   the same by a relay that takes 7-bit text only: 8-bit parts
                                  are re-encoded
mail_relay.py body IN OUT         the body of a MIME entity, its transfer encoding undone
"""
import email
import email.policy
import sys


def main(argv):
    command, source, target = argv[1:4]
    with open(source, "rb") as f:
        data = f.read()
    if command == "relay":
        policy = email.policy.SMTP
        if argv[4] == "7bit":
            policy = policy.clone(cte_type="7bit")
        out = email.message_from_bytes(data, policy=policy).as_bytes(policy=policy)
    elif command == "body":
        out = email.message_from_bytes(data, policy=email.policy.SMTP).get_payload(decode=True)
    else:
        raise SystemExit("unknown command " + command)
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
