// Build constants shared by every layer: the object identifier arcs that this
// build owns. Changing one changes every identifier built under it (the
// configuration-file attribute ids, the maker's cipher identifiers, the
// private bag ids of PKCS#12 files), so stored files written by one build
// are only readable by builds with the same values. See docs/build-constants.md.
#pragma once

#define TAL_BUILDCONST_STR2(x) #x
#define TAL_BUILDCONST_STR(x) TAL_BUILDCONST_STR2(x)

// The maker's private enterprise number under 1.3.6.1.4.1 (iso.org.dod.internet.
// private.enterprise). Not a number IANA assigned to us: a stand-in above the
// range assigned so far, to be replaced by the registered number.
#define TAL_ENTERPRISE_PEN 73817
#define TAL_ENTERPRISE_ARC "1.3.6.1.4.1." TAL_BUILDCONST_STR(TAL_ENTERPRISE_PEN)

// The enterprise number as DER subidentifier octets (base 128, high bit on all
// but the last). Three octets cover 16384 .. 2097151; the cipher layer's fixed
// DER identifiers rely on that length.
#if TAL_ENTERPRISE_PEN < 16384 || TAL_ENTERPRISE_PEN > 2097151
#error "TAL_ENTERPRISE_PEN must need exactly three base-128 octets"
#endif
#define TAL_ENTERPRISE_PEN_DER                                                               \
  (0x80 | ((TAL_ENTERPRISE_PEN >> 14) & 0x7F)), (0x80 | ((TAL_ENTERPRISE_PEN >> 7) & 0x7F)), \
      (TAL_ENTERPRISE_PEN & 0x7F)

// The two organisation identifiers under the Polish national arc 1.2.616.1
// (iso.member-body.pl.organisations). Stand-ins under one organisation number
// until the deployment's own are configured.
#define TAL_PL_ORG_ARC "1.2.616.1.113999"
#define TAL_PL_ORG_OID1 TAL_PL_ORG_ARC ".1.1"
#define TAL_PL_ORG_OID2 TAL_PL_ORG_ARC ".1.2"
