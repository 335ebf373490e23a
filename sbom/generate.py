#!/usr/bin/python3
"""Writes the copyright file (Debian's machine-readable format) and the
CycloneDX 1.6 bill of materials of an installed dolvin program into DOC.

  generate.py --program FILE --version VERSION --doc DOC
              [--panel TOOLCHAIN SYSROOT | --linked LIBRARIES]

The panel program's components are the libraries linked into it
(sbom/components.toml), at the versions in the recipes of the cached
toolchain and libraries, with the texts and source checksums that
scripts/panel-sysroot keeps. A native program's are the packages of the
shared libraries it needs, as dpkg-shlibdeps finds them for the package's
Depends, and those linked into it from LIBRARIES (scripts/host-libraries)."""

import argparse
import datetime
import fnmatch
import glob
import hashlib
import json
import os
import re
import subprocess
import tempfile
import textwrap
import tomllib
import urllib.parse
import uuid

from debian.copyright import Copyright, NotMachineReadableError
from debian.debian_support import Version

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEP5 = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
OWN_STANZA = """Files: *
Copyright: not declared
License: not-declared
 The owner of dolvin has declared neither its copyright holders nor its
 licence. That is the owner's decision, not the packager's, so this file
 names no licence for dolvin."""


def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, check=True, capture_output=True, text=True)
    return done.stdout.strip()


def read(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def field(text):
    """Text as the continuation lines of a field: blank lines become " ."."""
    return "\n".join(" " + line if line.strip() else " ." for line in text.strip("\n").splitlines())


def copyright_holders(path):
    """The holders in Debian's copyright file of a source package: in the
    machine-readable format, the Copyright fields of its Files paragraphs but
    those of debian/*; otherwise its first copyright statement (the FSF's)."""
    with open(path, encoding="utf-8") as file:
        try:
            paragraphs = Copyright(file).all_files_paragraphs()
        except NotMachineReadableError:
            statement = re.search(r"Copyright \(C\) (.+?Inc\.)", read(path), re.S)
            return [" ".join(statement.group(1).split())]
    holders = (line.strip() for p in paragraphs if not p.files[0].startswith("debian/")
               for line in p.copyright.splitlines())
    return list(dict.fromkeys(holders))


def purl(package, version, architecture):
    quote = urllib.parse.quote
    return f"pkg:deb/debian/{quote(package)}@{quote(version, safe='')}?arch={architecture}"


def linked_components(recipes, libraries, native=False):
    """The components of sbom/components.toml (for a native program those it
    marks native), what each needs, and the copyright stanzas of their source
    packages: versions from the recipes of the cached builds in RECIPES, texts
    from what their scripts keep in LIBRARIES."""
    versions = {}
    for recipe in recipes:
        versions.update(line.split(" ", 1) for line in read(f"{recipe}/.recipe").splitlines() if " " in line)
    with open(f"{ROOT}/sbom/components.toml", "rb") as file:
        declared = {n: d for n, d in tomllib.load(file).items() if d.get("native") or not native}
    components, stanzas = [], {}
    for name, d in declared.items():
        packages = [p for p in versions if fnmatch.fnmatch(p, d["package"])]
        if len(packages) != 1:
            raise SystemExit(f"{name}: the recipes name {packages or 'no'} package {d['package']}")
        package = packages[0]
        doc = f"{libraries}/usr/share/doc/{package}"
        if not os.path.isdir(doc):
            raise SystemExit(f"{doc} is missing: the script of its cached build keeps it")
        component, notice = panel_component(name, d, versions[package], doc)
        components.append(component)
        stanzas.setdefault(notice["source"], (notice, []))[1].append(component)
    needs = {name: [n for n in d["needs"] if n in declared] for name, d in declared.items()}
    return components, needs, [copyright_stanza(*s) for s in stanzas.values()]


def panel_component(name, d, version, doc):
    """A component at the Debian VERSION of its package, and the notice of its
    source package, from what scripts/panel-sysroot kept in DOC."""
    files = [line.split() for line in read(f"{doc}/source-files").splitlines()]
    [dsc] = [f[1] for f in files if f[1].endswith(".dsc")]
    source, dsc_version = dsc.removesuffix(".dsc").split("_")
    debian, kept = Version(version), Version(dsc_version)
    kept.epoch = debian.epoch  # a .dsc is named without it
    if str(kept) != version:
        raise SystemExit(f"{doc}: the notices of {dsc}, not of version {version}")
    component = {
        "type": "library",
        "bom-ref": name,
        "name": name,
        # 2.9.14+dfsg-1.3~deb12u6 -> 2.9.14: the upstream version without a repack suffix.
        "version": re.split(r"[+~]", debian.upstream_version)[0],
        "licenses": [{"expression": d["licence"], "acknowledgement": "declared"}],
        "copyright": "\n".join(copyright_holders(f"{doc}/copyright")),
        "purl": purl(source, version, "source"),
        "externalReferences": [
            {"type": "source-distribution", "url": url.strip("'"), "comment": file_name,
             "hashes": [{"alg": "SHA-256", "content": checksum.removeprefix("SHA256:")}]}
            for url, file_name, _, checksum in files],
    }
    pedigree = {}
    patches = sorted(glob.glob(f"{ROOT}/scripts/patches/{d['patches']}")) if "patches" in d else []
    if patches:
        pedigree["patches"] = [
            {"type": "unofficial",
             "diff": {"url": os.path.relpath(patch, ROOT),
                      "text": {"contentType": "text/x-diff", "content": read(patch)}}}
            for patch in patches]
    if not d.get("debian_patches", True):
        # Debian's fixes are not in the code: the Debian version must not claim them.
        component["cpe"] = d["cpe"].format(version=component["version"])
        pedigree["ancestors"] = [{"type": "library", "name": source, "version": version,
                                  "purl": component.pop("purl")}]
        pedigree["notes"] = ("Built from the upstream tarball of the Debian source package, "
                             "without Debian's patches.")
    if pedigree:
        component["pedigree"] = pedigree
    component["properties"] = [{"name": "dolvin:link-input", "value": f} for f in d["links"]]
    notice = {"source": source, "version": version, "texts": read(f"{doc}/licence"),
              "patches": [os.path.relpath(p, ROOT) for p in patches],
              "debian_patches": d.get("debian_patches", True)}
    return component, notice


def dep5_licence(expression):
    """An SPDX expression in the syntax of the copyright format."""
    expression = re.sub(r" WITH (\S+)", r" with \1 exception", expression)
    return expression.replace(" AND ", " and ").replace(" OR ", " or ")


def copyright_stanza(notice, components):
    """The stanza of the components from one source package."""
    names = [c["name"] for c in components]
    comment = (f"{' and '.join(names)} {components[0]['version']} from Debian's source package "
               f"{notice['source']} {notice['version']}")
    if not notice["debian_patches"]:
        comment += " (its upstream tarball, without Debian's patches)"
    if notice["patches"]:
        comment += ", with " + " and ".join(notice["patches"])
    comment += ", linked into usr/bin/dolvin."
    holders = components[0]["copyright"].replace("\n", "\n ")
    return (f"Files: {' '.join(name + '/*' for name in names)}\n"
            f"Copyright: {holders}\n"
            f"License: {dep5_licence(components[0]['licenses'][0]['expression'])}\n"
            f"{field(notice['texts'])}\n"
            f"Comment:\n{field(textwrap.fill(comment, 76))}")


def native_components(program):
    """The packages of the shared libraries the program needs, installed here."""
    architecture = run("dpkg", "--print-architecture")
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(f"{scratch}/debian")
        open(f"{scratch}/debian/control", "w").close()
        depends = run("dpkg-shlibdeps", "-O", os.path.abspath(program), cwd=scratch)
    packages = [d.split()[0] for d in depends.split("=", 1)[1].split(",")]
    components = []
    for package in packages:
        version = run("dpkg-query", "-W", "-f=${Version}", f"{package}:{architecture}")
        components.append({
            "type": "library", "bom-ref": package, "name": package, "version": version,
            "purl": purl(package, version, architecture)})
    return components, {package: [] for package in packages}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--doc", required=True)
    parser.add_argument("--panel", nargs=2, metavar=("TOOLCHAIN", "SYSROOT"))
    parser.add_argument("--linked", metavar="LIBRARIES")
    args = parser.parse_args()

    if args.panel:
        components, needs, stanzas = linked_components(args.panel, args.panel[1])
        about = ("usr/bin/dolvin is one static program: besides dolvin's own code it holds parts\n"
                 "of the libraries below, linked in. dolvin.cdx.json beside this file lists them.")
    else:
        components, needs = native_components(args.program)
        stanzas = []
        about = ("usr/bin/dolvin uses the shared libraries of other packages, this package's\n"
                 "Depends, each with its own copyright file. dolvin.cdx.json lists them.")
        if args.linked:
            linked, linked_needs, stanzas = linked_components([args.linked], args.linked, True)
            components += linked
            needs.update(linked_needs)
            about = about.replace(" lists them.", " lists them and\nthe library below, linked in.")
    header = f"Format: {DEP5}\nUpstream-Name: dolvin\nComment:\n{field(about)}"
    copyright_file = "\n\n".join([header, OWN_STANZA, *stanzas]) + "\n"

    with open(args.program, "rb") as program:
        sha512 = hashlib.sha512(program.read()).hexdigest()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", datetime.datetime.now().timestamp()))
    timestamp = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": {
            "timestamp": timestamp.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "tools": {"components": [{"type": "application", "name": "dolvin sbom/generate.py",
                                      "version": args.version}]},
            "component": {
                "type": "application",
                "bom-ref": "dolvin",
                "name": "dolvin",
                "version": args.version,
                "licenses": [{"license": {"name": "NOASSERTION"}}],
                "hashes": [{"alg": "SHA-512", "content": sha512}],
                "properties": [{"name": "bsi:component:filename",
                                "value": os.path.basename(args.program)}],
            },
        },
        "components": components,
        "dependencies": [{"ref": "dolvin", "dependsOn": [c["bom-ref"] for c in components]}]
        + [{"ref": name, "dependsOn": refs} for name, refs in needs.items()],
    }
    # Named after its content: the same program and components, the same bill.
    content = json.dumps(bom, sort_keys=True).encode()
    serial = uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha512(content).hexdigest())
    bom["serialNumber"] = f"urn:uuid:{serial}"

    os.makedirs(args.doc, exist_ok=True)
    with open(f"{args.doc}/copyright", "w", encoding="utf-8") as file:
        file.write(copyright_file)
    with open(f"{args.doc}/dolvin.cdx.json", "w", encoding="utf-8") as file:
        json.dump(bom, file, indent=2, ensure_ascii=False)
        file.write("\n")


if __name__ == "__main__":
    main()
