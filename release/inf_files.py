"""What a driver package's INF says its catalog must list, for the
architectures that it targets: the catalog's name, the files (the INF and
every file of [SourceDisksFiles] and of the install sections' CopyFiles), the
hardware IDs of its models, and its DriverVer. A reference that cannot be
resolved, a missing file, an architecture without a catalog name or models,
and a DriverVer in the future are refused, naming the INF's line.
"""

import datetime
import pathlib
import re

# The architectures, as the platform's INF decorations name them:
# (models' and [Version]'s decoration, [SourceDisksFiles]' decoration).
ARCHITECTURES = {"x86": ("ntx86", "x86"), "x64": ("ntamd64", "amd64"),
                 "arm64": ("ntarm64", "arm64")}


class InfError(Exception):
    pass


class Inf:
    """The INF's sections: {lower-case name: [(line number, key, values)]},
    with its [Strings] substituted."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.sections = {}
        raw = self.path.read_bytes()
        text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode(
            "utf-8-sig", errors="replace")
        section = None
        pending, first = "", 0
        for number, line in enumerate(text.splitlines(), 1):
            line = strip_comment(line).strip()
            if not pending:
                first = number
            if line.endswith("\\"):
                pending += line[:-1]
                continue
            line, pending = pending + line, ""
            if not line:
                continue
            if line.startswith("["):
                section = line[1:line.index("]")].strip().lower() if "]" in line else None
                self.sections.setdefault(section, [])
                continue
            if section is None:
                continue
            key, values = None, line
            equals = unquoted(line, "=")
            if equals:
                key, values = line[:equals[0]].strip().strip('"'), line[equals[0] + 1:]
            self.sections[section].append((first, key, split_values(values)))
        strings = {key.lower(): values[0] if values else ""
                   for _, key, values in self.sections.get("strings", []) if key}
        self.sections = {name: [(number, substitute(key, strings) if key else key,
                                 [substitute(value, strings) for value in values])
                                for number, key, values in lines]
                         for name, lines in self.sections.items()}

    def where(self, number):
        return "%s:%d" % (self.path.name, number)

    def lines(self, section):
        return self.sections.get(section.lower(), [])

    def value(self, section, key):
        """(line number, values) of the section's first line with the key."""
        for number, name, values in self.lines(section):
            if name and name.lower() == key.lower():
                return number, values
        return None


def unquoted(text, wanted):
    """The places of the character outside quoted strings."""
    quoted, found = False, []
    for index, character in enumerate(text):
        if character == '"':
            quoted = not quoted
        elif character == wanted and not quoted:
            found.append(index)
    return found


def strip_comment(line):
    comments = unquoted(line, ";")
    return line[:comments[0]] if comments else line


def split_values(text):
    cuts = [-1] + unquoted(text, ",") + [len(text)]
    return [text[start + 1:end].strip().strip('"') for start, end in zip(cuts, cuts[1:])]


def substitute(text, strings):
    return re.sub(r"%([^%]+)%", lambda match: strings.get(match.group(1).lower(), match.group(0)),
                  text)


def driver_date(inf, today):
    """The DriverVer's date; refused when missing, malformed or after today."""
    found = inf.value("version", "DriverVer")
    if not found:
        raise InfError("%s: [Version] has no DriverVer" % inf.path.name)
    number, values = found
    try:
        date = datetime.datetime.strptime(values[0], "%m/%d/%Y").date()
    except ValueError:
        raise InfError("%s: DriverVer's date '%s' is not mm/dd/yyyy" % (inf.where(number),
                                                                        values[0]))
    if date > today:
        raise InfError("%s: DriverVer's date %s is in the future: Windows ranks a driver by its "
                       "date, so this one would win over every later one"
                       % (inf.where(number), values[0]))
    return date


def catalog_name(inf, architecture):
    decoration = ARCHITECTURES[architecture][0]
    found = (inf.value("version", "CatalogFile." + decoration)
             or inf.value("version", "CatalogFile"))
    if not found:
        named = any(key and key.lower().startswith("catalogfile")
                    for _, key, _ in inf.lines("version"))
        if named:
            raise InfError("%s: [Version] names no catalog for %s: add CatalogFile.NT%s or "
                           "CatalogFile" % (inf.path.name, architecture, decoration[2:]))
        return None
    return plain_catalog_name(inf, *found)


def plain_catalog_name(inf, number, values):
    """A CatalogFile line's name, which must name a file beside the INF."""
    if not re.fullmatch(r"[^\\/:*?\"<>|]+\.cat", values[0], re.IGNORECASE):
        raise InfError("%s: the catalog's name %s is not a plain .cat file name"
                       % (inf.where(number), values[0]))
    return values[0]


def models(inf, architecture):
    """[(line number, install section, hardware IDs)] of the architecture."""
    decoration = ARCHITECTURES[architecture][0]
    found = []
    for number, _, values in inf.lines("manufacturer"):
        section, decorations = values[0], [value.lower() for value in values[1:]]
        chosen = [name for name in decorations if name.split(".")[0] == decoration]
        if chosen:
            names = [section + "." + name for name in chosen]
        elif architecture == "x86" and not decorations:
            names = [section]
        else:
            raise InfError("%s: the models of %s name no %s decoration" % (
                inf.where(number), section, decoration))
        for name in names:
            if name.lower() not in inf.sections:
                raise InfError("%s: no section [%s]" % (inf.where(number), name))
            found += [(line, entry[0], [value for value in entry[1:] if value])
                      for line, _, entry in inf.lines(name)]
    if not found:
        raise InfError("%s: no models for %s" % (inf.path.name, architecture))
    return found


def install_section(inf, number, name, architecture):
    for candidate in (name + "." + ARCHITECTURES[architecture][0], name + ".nt", name):
        if candidate.lower() in inf.sections:
            return candidate
    raise InfError("%s: no install section [%s]" % (inf.where(number), name))


def copied_files(inf, section):
    """[(line number, file name)] that the section's CopyFiles copy."""
    files = []
    for number, key, values in inf.lines(section) + inf.lines(section + ".coinstallers"):
        if not key or key.lower() != "copyfiles":
            continue
        for value in filter(None, values):
            if value.startswith("@"):
                files.append((number, value[1:]))
            elif value.lower() not in inf.sections:
                raise InfError("%s: CopyFiles names no section [%s]" % (inf.where(number), value))
            else:
                files += [(line, (entry[1] if len(entry) > 1 and entry[1] else entry[0]))
                          for line, _, entry in inf.lines(value)]
    return files


def source_files(inf, architecture):
    """{lower-case file name: (line number, path in the package)}: the
    decorated section's entries, and the undecorated's that it lacks."""
    decoration = ARCHITECTURES[architecture][1]
    disks = {}
    for section in ("sourcedisksnames", "sourcedisksnames." + decoration):
        for number, key, values in inf.lines(section):
            disks[key] = values[3] if len(values) > 3 else ""
    files = {}
    for section in ("sourcedisksfiles." + decoration, "sourcedisksfiles"):
        for number, key, values in inf.lines(section):
            if not key or key.lower() in files:
                continue
            if values[0] not in disks:
                raise InfError("%s: disk %s is not in [SourceDisksNames]"
                               % (inf.where(number), values[0]))
            parts = [disks[values[0]], values[1] if len(values) > 1 else "", key]
            path = "/".join(part.strip("\\").replace("\\", "/") for part in parts
                            if part.strip("\\"))
            if ".." in path.split("/") or ":" in path:
                raise InfError("%s: %s lies outside the package" % (inf.where(number), path))
            files[key.lower()] = (number, path)
    return files


def package_files(inf_path, architectures, today):
    """{catalog name: {"files": [path in the package], "hardware_ids": [...]}}
    for the architectures; the INF first in each list."""
    inf = Inf(inf_path)
    driver_date(inf, today)
    catalogs = {}
    for architecture in architectures:
        name = catalog_name(inf, architecture)
        if name is None:
            raise InfError("%s: [Version] names no CatalogFile" % inf.path.name)
        catalog = catalogs.setdefault(name, {"files": [inf.path.name], "hardware_ids": []})
        sources = source_files(inf, architecture)
        wanted = [(number, path) for number, path in sources.values()]
        for number, install, ids in models(inf, architecture):
            section = install_section(inf, number, install, architecture)
            for line, copied in copied_files(inf, section):
                if copied.lower() not in sources:
                    raise InfError("%s: %s is copied but not in [SourceDisksFiles] for %s" % (
                        inf.where(line), copied, architecture))
            for hid in ids:
                if hid.lower() not in catalog["hardware_ids"]:
                    catalog["hardware_ids"].append(hid.lower())
        for number, path in wanted:
            if not (inf.path.parent / path).is_file():
                raise InfError("%s: %s is not in the package" % (inf.where(number), path))
            if path not in catalog["files"]:
                catalog["files"].append(path)
    return catalogs
