"""The structures of a driver package's catalog, in DER, by asn1crypto.

A catalog is a PKCS#7 SignedData whose content is a certificate trust list
(CTL) of the catalog-list usage: one entry per file, identified by its
digest, with the file's attributes; the catalog's own attributes are the
list's extensions. The names of the Windows SDK's mscat.h and wintrust.h
are kept in the comments, so that what a platform's reader expects can be
looked up there.
"""

from asn1crypto import algos, core

CTL = "1.3.6.1.4.1.311.10.1"  # szOID_CTL, the content type
CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"  # szOID_CATALOG_LIST, the list's usage
MEMBER_V1 = "1.3.6.1.4.1.311.12.1.2"  # szOID_CATALOG_LIST_MEMBER: SHA-1 members
MEMBER_V2 = "1.3.6.1.4.1.311.12.1.3"  # szOID_CATALOG_LIST_MEMBER2: SHA-256 members
NAME_VALUE = "1.3.6.1.4.1.311.12.2.1"  # CAT_NAMEVALUE_OBJID
MEMBER_INFO = "1.3.6.1.4.1.311.12.2.2"  # CAT_MEMBERINFO_OBJID
INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"  # SPC_INDIRECT_DATA_OBJID
PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"  # SPC_PE_IMAGE_DATAOBJ
FLAT_DATA = "1.3.6.1.4.1.311.2.1.25"  # SPC_CAB_DATA_OBJID, which flat files take
SIGNED_DATA = "1.2.840.113549.1.7.2"
# The subject interface packages that check a member: PE images, and any
# other file as a flat one.
PE_SUBJECT = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}"
FLAT_SUBJECT = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"
# CRYPTCAT_ATTR_AUTHENTICATED | CRYPTCAT_ATTR_DATAASCII | CRYPTCAT_ATTR_NAMEASCII
TEXT_ATTRIBUTE = 0x10010001
# What the platform's tools write where a link once named the file.
OBSOLETE = "<<<Obsolete>>>"


class SpcString(core.Choice):
    _alternatives = [("unicode", core.BMPString, {"implicit": 0}),
                     ("ascii", core.IA5String, {"implicit": 1})]


class SpcLink(core.Choice):
    _alternatives = [("url", core.IA5String, {"implicit": 0}),
                     ("moniker", core.Any, {"implicit": 1}),
                     ("file", SpcString, {"explicit": 2})]


class SpcPeImageFlags(core.BitString):
    _map = {0: "include_resources", 1: "include_debug_info", 2: "include_import_address_table"}


class SpcPeImageData(core.Sequence):
    _fields = [("flags", SpcPeImageFlags),
               ("file", SpcLink, {"explicit": 0, "optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


class CatalogNameValue(core.Sequence):
    _fields = [("tag", core.BMPString), ("flags", core.Integer), ("value", core.OctetString)]


class CatalogMemberInfo(core.Sequence):
    _fields = [("subject_guid", core.BMPString), ("cert_version", core.Integer)]


class AnyValues(core.SetOf):
    _child_spec = core.Any


class Attribute(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("values", AnyValues)]


class Attributes(core.SetOf):
    _child_spec = Attribute


class TrustedSubject(core.Sequence):
    _fields = [("identifier", core.OctetString), ("attributes", Attributes, {"optional": True})]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class Extension(core.Sequence):
    _fields = [("id", core.ObjectIdentifier), ("critical", core.Boolean, {"default": False}),
               ("value", core.OctetString)]


class Extensions(core.SequenceOf):
    _child_spec = Extension


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class CertificateTrustList(core.Sequence):
    _fields = [("version", core.Integer, {"optional": True}),
               ("subject_usage", SubjectUsage),
               ("list_identifier", core.OctetString, {"optional": True}),
               ("sequence_number", core.Integer, {"optional": True}),
               ("this_update", core.UTCTime),
               ("subject_algorithm", algos.DigestAlgorithm),
               ("subjects", TrustedSubjects, {"optional": True}),
               ("extensions", Extensions, {"explicit": 0, "optional": True})]


class InnerContent(core.Sequence):
    # PKCS#7's content, not CMS's: the list itself, not an octet string of it.
    _fields = [("content_type", core.ObjectIdentifier),
               ("content", CertificateTrustList, {"explicit": 0})]


class DigestAlgorithms(core.SetOf):
    _child_spec = algos.DigestAlgorithm


class SignedData(core.Sequence):
    _fields = [("version", core.Integer), ("digest_algorithms", DigestAlgorithms),
               ("content", InnerContent),
               ("certificates", AnyValues, {"implicit": 0, "optional": True}),
               ("crls", AnyValues, {"implicit": 1, "optional": True}),
               ("signer_infos", AnyValues)]


class ContentInfo(core.Sequence):
    _fields = [("content_type", core.ObjectIdentifier),
               ("content", SignedData, {"explicit": 0})]


def name_value(tag, text):
    """A text attribute of the catalog or of a member."""
    return CatalogNameValue({"tag": tag, "flags": TEXT_ATTRIBUTE,
                             "value": (text + "\0").encode("utf-16-le")})


def attribute(kind, value):
    return Attribute({"type": kind, "values": [core.Any.load(value.dump())]})


def indirect_data(kind, algorithm, digest):
    """The indirect data of a member: what it is and its digest."""
    link = SpcLink({"file": SpcString({"unicode": OBSOLETE})})
    value = SpcPeImageData({"flags": set(), "file": link}) if kind == "pe" else link
    return SpcIndirectDataContent({
        "data": {"type": PE_IMAGE_DATA if kind == "pe" else FLAT_DATA,
                 "value": core.Any.load(value.dump())},
        "message_digest": {"digest_algorithm": {"algorithm": algorithm, "parameters": None},
                           "digest": digest}})


def member_tag(digest):
    """A member's identifier: its digest in upper-case hexadecimal, as
    UTF-16 with its terminating null, as the platform's readers look it up."""
    return (digest.hex().upper() + "\0").encode("utf-16-le")
