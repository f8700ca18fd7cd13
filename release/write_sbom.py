"""Writes the software bill of materials of a release as an SPDX 2.3 JSON
document: the installation's files with their checksums, the product, the
toolchain components linked into its images (as notices.py found them) with
their versions and declared licences, and how they relate. It depends only
on its inputs, so every build of a commit writes the same bytes.

    write_sbom.py SBOM SOURCE_TIME STAGED_DIR COMPONENTS NAME VERSION SUPPLIER

The declared licence of a component is the one its Debian copyright file
gives for all of its files (Files: *) when that file is machine-readable;
GCC's is not, and its runtime libraries' licence is well known.
"""
import hashlib
import json
import os
import re
import sys
import time
import urllib.parse

KNOWN_LICENCES = {"gcc-mingw-w64": "GPL-3.0-or-later WITH GCC-exception-3.1"}


def spdx_id(kind, name):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def declared_licence(component):
    with open(component["copyright"], encoding="utf-8") as copyright_file:
        text = copyright_file.read()
    if text.startswith("Format: "):
        found = re.search(r"^Files: \*\n(?:[A-Z].*\n(?:[ \t].*\n)*)*?"
                          r"License: (\S+)\n", text, re.MULTILINE)
        if found and re.fullmatch(r"[A-Za-z0-9.-]+", found.group(1)):
            return found.group(1)
        if found:
            return "LicenseRef-Debian-" + re.sub(r"[^A-Za-z0-9.-]", "-",
                                                 found.group(1))
    return KNOWN_LICENCES.get(component["source"], "NOASSERTION")


def files_of(staged):
    found = []
    for folder, _, names in os.walk(staged):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as data_file:
                data = data_file.read()
            found.append({
                "fileName": "./" + os.path.relpath(path, staged).replace(
                    os.sep, "/"),
                "checksums": [
                    {"algorithm": "SHA1",
                     "checksumValue": hashlib.sha1(data).hexdigest()},
                    {"algorithm": "SHA256",
                     "checksumValue": hashlib.sha256(data).hexdigest()}],
                "licenseConcluded": "NOASSERTION",
                "copyrightText": "NOASSERTION"})
    found.sort(key=lambda entry: entry["fileName"])
    for entry in found:
        entry["SPDXID"] = spdx_id("File", entry["fileName"][2:])
    return found


def document(source_time, staged, components, name, version, supplier):
    files = files_of(staged)
    product = spdx_id("Package", name)
    sha1s = sorted(f["checksums"][0]["checksumValue"] for f in files)
    release = f"{name}-{version}-win64"
    packages = [{
        "SPDXID": product, "name": name, "versionInfo": version,
        "supplier": f"Organization: {supplier}",
        "downloadLocation": "NOASSERTION", "filesAnalyzed": True,
        "packageVerificationCode": {"packageVerificationCodeValue":
                                    hashlib.sha1("".join(sha1s).encode())
                                    .hexdigest()},
        "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
        "copyrightText": "NOASSERTION",
        "hasFiles": [f["SPDXID"] for f in files]}]
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT",
                      "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": product}]
    by_name = {os.path.basename(f["fileName"]): f["SPDXID"] for f in files}
    for component in components:
        package_id = spdx_id("Package", "deb-" + component["package"])
        purl = "pkg:deb/debian/{}@{}".format(
            urllib.parse.quote(component["package"], safe=""),
            urllib.parse.quote(component["version"], safe=""))
        packages.append({
            "SPDXID": package_id, "name": component["package"],
            "versionInfo": component["version"],
            "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "homepage": component["homepage"] or "NOASSERTION",
            "licenseConcluded": "NOASSERTION",
            "licenseDeclared": declared_licence(component),
            "copyrightText": "NOASSERTION",
            "comment": "Linked in statically from: " + ", ".join(
                os.path.basename(f) for f in component["files"]),
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER",
                              "referenceType": "purl",
                              "referenceLocator": purl}]})
        for image in component["images"]:
            relationships.append({"spdxElementId": by_name[image],
                                  "relationshipType": "STATIC_LINK",
                                  "relatedSpdxElement": package_id})
    digest = hashlib.sha256("".join(
        f["checksums"][1]["checksumValue"] for f in files).encode())
    return {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT", "name": release,
        "documentNamespace": f"https://spdx.tolvarin.invalid/{release}-"
                             f"{digest.hexdigest()}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ",
                                     time.gmtime(source_time)),
            "creators": [f"Organization: {supplier}",
                         "Tool: tolvarin-write_sbom"]},
        "documentDescribes": [product],
        "packages": packages, "files": files,
        "relationships": relationships}


def main(sbom, source_time, staged, components_path, name, version,
         supplier):
    with open(components_path, encoding="utf-8") as components_file:
        components = json.load(components_file)
    with open(sbom, "w", encoding="utf-8", newline="\n") as out:
        json.dump(document(source_time, staged, components, name, version,
                           supplier), out, indent=2)
        out.write("\n")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), *sys.argv[3:8])
