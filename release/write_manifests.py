"""Writes what package managers install a release from, beside the packages:
the winget manifest (ManifestVersion 1.12.0, the files of a multi-file
manifest in the community repository's layout, a locale manifest for each
language of the installer), the Scoop
manifest of the portable ZIP, and SHA256SUMS over every package file. It
depends only on its inputs, so every build of a commit writes the same bytes.

    write_manifests.py CONFIG VERSION PACKAGE_NAME PACKAGE_DIR INSTALLER

CONFIG is the JSON file the build writes (release/manifests.json in the
build folder): names, source time, URLs, licence, and the paths of the exit
codes' and photo types' definitions and of the installer's translations. PACKAGE_NAME is the packages' name
without extension. INSTALLER is the signed installer, which cpack copies
into PACKAGE_DIR after this script; the other packages are there already,
or nothing is written.
"""
import hashlib
import json
import os
import re
import sys
import time

MANIFEST_VERSION = "1.12.0"
SCHEMA = "https://aka.ms/winget-manifest.{}.{}.schema.json"


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# Strings that YAML reads as the same string without quotes; any other is
# written double-quoted (JSON's escapes are YAML's).
PLAIN = re.compile(r"[A-Za-z/][A-Za-z0-9 ._/()<>=+-]*")
KEYWORDS = {"true", "false", "yes", "no", "on", "off", "null", "y", "n"}


def scalar(value):
    if isinstance(value, int):
        return str(value)
    if (PLAIN.fullmatch(value) and not value.endswith(" ") and
            value.lower() not in KEYWORDS):
        return value
    return json.dumps(value, ensure_ascii=False)


def yaml(value, indent=""):
    """Block-style YAML of dicts, lists and scalars, in the given order."""
    lines = []
    if isinstance(value, dict):
        for key, item in value.items():
            if isinstance(item, (dict, list)):
                lines.append(f"{indent}{key}:")
                lines.extend(yaml(item, indent + ("  " if isinstance(
                    item, dict) else "")))
            else:
                lines.append(f"{indent}{key}: {scalar(item)}")
    else:
        for item in value:
            if isinstance(item, dict):
                inner = yaml(item, indent + "  ")
                lines.append(indent + "- " + inner[0][len(indent) + 2:])
                lines.extend(inner[1:])
            else:
                lines.append(f"{indent}- {scalar(item)}")
    return lines


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


def manifest_file(kind, body):
    return (f"# yaml-language-server: $schema="
            f"{SCHEMA.format(kind, MANIFEST_VERSION)}\n\n" +
            "\n".join(yaml(body)) + "\n")


def winget(config, installer_url, installer_hash):
    identifier = config["identifier"]
    version = config["version"]
    with open(config["translations"], encoding="utf-8") as f:
        translations = json.load(f)
    # English first: where none of the user's languages is there, winget
    # takes the first.
    tags = ["en-US"] + sorted(tag for tag in translations if tag != "en-US")
    with open(config["exit_codes"], encoding="utf-8") as f:
        codes = json.load(f)["codes"]
    with open(config["file_types"], encoding="utf-8") as f:
        types = [t for group in json.load(f)["progids"].values()
                 for t in group]
    head = {"PackageIdentifier": identifier, "PackageVersion": version}
    returns = []
    for code in codes:
        if code["winget"]:
            entry = {"InstallerReturnCode": code["code"],
                     "ReturnResponse": code["winget"]}
            if code["winget"] == "custom" and config["homepage"]:
                entry["ReturnResponseUrl"] = config["homepage"]
            returns.append(entry)
    entry = {"DisplayName": config["name"], "Publisher": config["publisher"],
             "DisplayVersion": version, "ProductCode": config["product_code"]}
    # One installer speaks every language; an entry for each, which starts
    # it in that language (/LANG=), so that winget's --locale finds one (it
    # takes no entry without InstallerLocale then) and the user's language
    # is winget's choice as it is the installer's.
    installers = []
    for scope, switch, location, elevation in (
            ("machine", "/AllUsers", "%ProgramFiles%", "elevatesSelf"),
            ("user", "/CurrentUser", "%LocalAppData%\\Programs", None)):
        for tag in tags:
            installer = {
                "InstallerLocale": tag, "Architecture": "x64", "Scope": scope,
                "InstallerUrl": installer_url,
                "InstallerSha256": installer_hash.upper(),
                "InstallerSwitches": {
                    "Custom": f"{switch} /LANG={translations[tag]['id']}"}}
            if elevation:
                installer["ElevationRequirement"] = elevation
            installer["InstallationMetadata"] = {
                "DefaultInstallLocation": f"{location}\\{config['folder']}"}
            installers.append(installer)
    installer_manifest = dict(head, **{
        "InstallerType": "nullsoft",
        "InstallModes": ["interactive", "silent", "silentWithProgress"],
        "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S",
                              "InstallLocation": "/D=<INSTALLPATH>"},
        "ExpectedReturnCodes": returns,
        "UpgradeBehavior": "install",
        "FileExtensions": types,
        "ProductCode": config["product_code"],
        "ReleaseDate": time.strftime("%Y-%m-%d",
                                     time.gmtime(config["source_time"])),
        "AppsAndFeaturesEntries": [entry],
        "Installers": installers,
        "ManifestType": "installer", "ManifestVersion": MANIFEST_VERSION})
    locale = dict(head, PackageLocale="en-US", Publisher=config["publisher"])
    if config["homepage"]:
        locale["PackageUrl"] = config["homepage"]
    locale.update({"PackageName": config["name"],
                   "License": config["license"]})
    if config["license_url"]:
        locale["LicenseUrl"] = config["license_url"]
    english = translations["en-US"]["texts"]
    locale.update({"Copyright": config["copyright"],
                   "ShortDescription": english["winget_short_description"],
                   "Description": english["winget_description"],
                   "Moniker": config["name"].lower(),
                   "Tags": ["photo", "photography", "raw", "image-editor"],
                   "ManifestType": "defaultLocale",
                   "ManifestVersion": MANIFEST_VERSION})
    version_manifest = dict(head, DefaultLocale="en-US", ManifestType="version",
                            ManifestVersion=MANIFEST_VERSION)
    files = {f"{identifier}.yaml": manifest_file("version", version_manifest),
             f"{identifier}.installer.yaml": manifest_file(
                 "installer", installer_manifest),
             f"{identifier}.locale.en-US.yaml": manifest_file(
                 "defaultLocale", locale)}
    for tag in tags[1:]:
        texts = translations[tag]["texts"]
        files[f"{identifier}.locale.{tag}.yaml"] = manifest_file("locale", dict(
            head, PackageLocale=tag,
            ShortDescription=texts["winget_short_description"],
            Description=texts["winget_description"], ManifestType="locale",
            ManifestVersion=MANIFEST_VERSION))
    return files


def scoop(config, zip_url, zip_hash):
    name = config["name"]
    pattern = config["download_url"].replace("{version}", "$version") + \
        "/" + config["zip"].replace(config["version"], "$version")
    manifest = {
        "version": config["version"],
        "description": config["description"],
        "homepage": config["homepage"] or config["download_url"].split(
            "{version}")[0],
        "license": config["license"],
        "architecture": {"64bit": {"url": zip_url, "hash": zip_hash}},
        "bin": config["exe"],
        "shortcuts": [[config["exe"], name]],
        "checkver": {"url": config["homepage"] or zip_url.rsplit("/", 1)[0],
                     "regex": f"{name}-([\\d.]+)-win64\\.zip"},
        "autoupdate": {"architecture": {"64bit": {"url": pattern}},
                       "hash": {"url": "$baseurl/SHA256SUMS"}}}
    return json.dumps(manifest, indent=4) + "\n"


def main(config_path, version, package_name, package_dir, installer):
    with open(config_path, encoding="utf-8") as f:
        config = json.load(f)
    config["version"] = version
    config["zip"] = package_name + ".zip"
    base = config["download_url"].replace("{version}", version)
    zip_path = os.path.join(package_dir, config["zip"])
    if not os.path.exists(zip_path):
        print(f"write_manifests.py: no {config['zip']}, no manifests")
        return 0
    installer_name = os.path.basename(installer)
    # Every package file: the symbols archive is made by the clang build.
    packages = {name: os.path.join(package_dir, name) for name in (
        package_name + suffix for suffix in (".zip", "-symbols.zip",
                                             ".spdx.json"))
        if os.path.exists(os.path.join(package_dir, name))}
    packages[installer_name] = installer

    files = winget(config, f"{base}/{installer_name}", sha256(installer))
    first = config["identifier"][0].lower()
    folder = os.path.join(package_dir, "winget", "manifests", first,
                          *config["identifier"].split("."),
                          config["version"])
    for name, text in files.items():
        write(os.path.join(folder, name), text)
    write(os.path.join(package_dir, "scoop",
                       config["name"].lower() + ".json"),
          scoop(config, f"{base}/{config['zip']}", sha256(zip_path)))
    write(os.path.join(package_dir, "SHA256SUMS"),
          "".join(f"{sha256(packages[name])}  {name}\n"
                  for name in sorted(packages)))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
