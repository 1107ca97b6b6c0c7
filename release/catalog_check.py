"""Reads a catalog back and compares it with its package (catalog.py check)."""

import pathlib
import subprocess

import catalog_der as der

NO_CATALOG = "no such catalog: Windows refuses the package with 0xE000022F"
# The members' digest by the list's subject algorithm.
MEMBER_ALGORITHMS = {der.MEMBER_V1: "sha1", der.MEMBER_V2: "sha256"}


def text_value(encoded):
    """(tag, text) of a name-value attribute."""
    value = der.CatalogNameValue.load(encoded)
    return value["tag"].native, value["value"].native.decode("utf-16-le").rstrip("\0")


def read(path):
    """{"algorithm", "os": [codes], "signers": count, "members":
    {digest: file name}} of a catalog; ValueError when it is none."""
    info = der.ContentInfo.load(pathlib.Path(path).read_bytes())
    signed = info["content"]
    if signed["content"]["content_type"].dotted != der.CTL:
        raise ValueError("its content is not a certificate trust list")
    trust_list = signed["content"]["content"]
    if list(trust_list["subject_usage"].native) != [der.CATALOG_LIST]:
        raise ValueError("it is not a catalog's list")
    algorithm = MEMBER_ALGORITHMS.get(trust_list["subject_algorithm"]["algorithm"].dotted)
    if not algorithm:
        raise ValueError("its members' kind is unknown")
    texts = dict(text_value(extension["value"].native) for extension in
                 (trust_list["extensions"] or []) if extension["id"].dotted == der.NAME_VALUE)
    members = {}
    for subject in trust_list["subjects"] or []:
        name, digest = None, None
        for attribute in subject["attributes"] or []:
            kind = attribute["type"].dotted
            if kind == der.NAME_VALUE:
                tag, text = text_value(attribute["values"][0].dump())
                name = text if tag == "File" else name
            elif kind == der.INDIRECT_DATA:
                content = der.SpcIndirectDataContent.load(attribute["values"][0].dump())
                digest = content["message_digest"]["digest"].native
        if digest is None or subject["identifier"].native != der.member_tag(digest):
            raise ValueError("a member's tag is not its digest")
        members[digest] = name
    return {"algorithm": algorithm, "os": [code for code in texts.get("OS", "").split(",") if code],
            "signers": len(signed["signer_infos"]), "members": members}


def compare(folder, name, listed, files, digest_of):
    """The faults between the catalog's members and the package's files
    (paths in folder), each a line: a file whose digest is not listed (said
    to be changed where a member of its name is left over), and each member
    that no file matches."""
    faults = []
    unmatched = dict(listed["members"])
    missing = []
    for path in files:
        digest = digest_of(folder / path, listed["algorithm"])
        if digest in listed["members"]:
            unmatched.pop(digest, None)
        else:
            missing.append(path)
    for path in missing:
        file_name = pathlib.PurePosixPath(path).name
        stale = [digest for digest, member in unmatched.items() if member == file_name]
        if stale:
            del unmatched[stale[0]]
            faults.append("%s: changed after %s was made" % (path, name))
        else:
            faults.append("%s: not in %s" % (path, name))
        faults[-1] += (": Windows refuses the package with 0xE000024B, the hash for the file "
                       "is not present in the specified catalog file")
    for digest, member in sorted(unmatched.items()):
        faults.append("%s lists %s (%s), which the package lacks"
                      % (name, member, digest.hex().upper()))
    return faults


def verify_signature(path, roots):
    """None when osslsigncode verifies the catalog's signature and chain,
    else what it said."""
    command = ["osslsigncode", "verify", "-in", str(path)]
    if roots:
        command += ["-CAfile", str(roots), "-TSA-CAfile", str(roots)]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    said = (result.stdout + result.stderr).strip()
    if result.returncode == 0:
        return None
    if "Unrecognized file type" in said or "not supported" in said.lower():
        version = subprocess.run(["osslsigncode", "--version"], capture_output=True,
                                 text=True).stdout.split("\n")[0]
        return "%s cannot verify catalogs: check the signature with a newer one" % version
    return said.splitlines()[-1] if said else "osslsigncode failed"
