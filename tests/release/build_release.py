"""Builds the release of the last commit the way a release is made, for the
release and installer tests:

  one       a git clone, signed with a throw-away certificate, with a
            download location (so with the package managers' manifests);
  two       the same commit from a source archive (no git, SOURCE_DATE_EPOCH
            set), signed with the same certificate, in another folder with
            blanks in its names, on another file system where there is one
            (/dev/shm), later, in another time zone, locale and umask, with
            a LIBRARY_PATH of its own;
  unsigned  the launcher of clone one, built without a certificate;
  guarded   clone one again with the process mitigations, signed;
  older     clone one's packages again, made to carry an older version,
            without a download location;
  restamp   a later commit in clone one, and the unsigned build built again.

    build_release.py SOURCE_DIR OUT_DIR VERSION

OUT_DIR/release.json tells where everything is. Every build is clean: OUT_DIR
is made anew.
"""
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

PACKAGE = "Tolvarin-{version}-win64"
OLDER_VERSION = "1.0.0.0"
# Where the release's packages would be downloaded from: with it, cpack also
# writes the package managers' manifests.
PUBLISHING = ["-DTOLVARIN_DOWNLOAD_URL=https://downloads.example.com/"
              "tolvarin/{version}",
              "-DTOLVARIN_HOMEPAGE_URL=https://tolvarin.example.com/"]
WINGET = "winget/manifests/t/Tolvarin/Tolvarin/{version}/Tolvarin.Tolvarin"


def shipped_files(build, version):
    """Path in the build folder of each shipped file."""
    package = PACKAGE.format(version=version)
    manifests = os.path.dirname(WINGET.format(version=version))
    return {"Tolvarin.exe": "Tolvarin.exe",
            "TOLVARIN64.dll": "sample/TOLVARIN64.dll",
            "TOLVARIN64avx.dll": "sample/TOLVARIN64avx.dll",
            package + ".zip": f"package/{package}.zip",
            package + ".exe": f"package/{package}.exe",
            package + "-symbols.zip": f"package/{package}-symbols.zip",
            package + ".spdx.json": f"package/{package}.spdx.json",
            **{name: "package/" + name for name in (
                "SHA256SUMS", "scoop/tolvarin.json", *(
                    f"{manifests}/{kind}" for kind in sorted(os.listdir(
                        os.path.join(build, "package", manifests)))))}}


class Builder:

    def __init__(self, out_dir):
        self.logs = os.path.join(out_dir, "logs")
        os.makedirs(self.logs)

    def run(self, step, command, cwd, env=None, umask=None, stdout=None):
        """Runs one command, its output to a log; exits on failure."""
        started = time.monotonic()
        log_path = os.path.join(self.logs, step + ".log")
        with open(log_path, "ab") as log:
            status = subprocess.run(
                command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                stdout=stdout or log, stderr=log, check=False,
                preexec_fn=(lambda: os.umask(umask)) if umask else None
            ).returncode
        if status != 0:
            with open(log_path, encoding="utf-8", errors="replace") as log:
                print(log.read()[-6000:])
            sys.exit(f"{step}: {command} failed with {status}")
        print(f"{step}: {' '.join(command)} ({time.monotonic() - started:.1f} s)")

    def release(self, step, src, env, signing, umask=None):
        """Configures, builds and packs the release preset in src."""
        self.run(step, ["cmake", "--preset", "release"] + signing, src, env,
                 umask)
        self.run(step, ["cmake", "--build", "--preset", "release",
                        "--parallel", str(os.cpu_count() or 2)], src, env,
                 umask)
        build = os.path.join(src, "build", "release")
        self.run(step, ["cpack"], build, env, umask)
        return build


def make_keys(builder, folder):
    """A throw-away CA and a code-signing certificate it issued, RSA, so
    that signatures are deterministic."""
    os.makedirs(folder)
    with open(os.path.join(folder, "openssl.cnf"), "w", encoding="ascii") as out:
        out.write("[req]\ndistinguished_name=name\nprompt=no\n[name]\n"
                  "CN=Throw-away test CA\n"
                  "[ca]\nbasicConstraints=critical,CA:true\n"
                  "keyUsage=critical,keyCertSign,cRLSign\n"
                  "subjectKeyIdentifier=hash\n"
                  "[signer]\nbasicConstraints=critical,CA:false\n"
                  "keyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=codeSigning\n"
                  "subjectKeyIdentifier=hash\n"
                  "authorityKeyIdentifier=keyid\n")
    config = ["-config", "openssl.cnf"]
    builder.run("keys", ["openssl", "req", "-x509", "-newkey", "rsa:2048",
                         "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                         "-days", "30", "-extensions", "ca"] + config, folder)
    builder.run("keys", ["openssl", "req", "-newkey", "rsa:2048", "-nodes",
                         "-keyout", "signer.key", "-out", "signer.csr",
                         "-subj", "/CN=Throw-away test signer"] + config,
                folder)
    builder.run("keys", ["openssl", "x509", "-req", "-in", "signer.csr",
                         "-CA", "ca.pem", "-CAkey", "ca.key",
                         "-CAcreateserial", "-days", "30", "-out",
                         "signer.pem", "-extfile", "openssl.cnf",
                         "-extensions", "signer"], folder)
    # The chain: the signer's certificate, then its issuer's.
    with open(os.path.join(folder, "chain.pem"), "wb") as chain:
        for name in ("signer.pem", "ca.pem"):
            with open(os.path.join(folder, name), "rb") as part:
                chain.write(part.read())
    return {"ca": os.path.join(folder, "ca.pem"),
            "chain": os.path.join(folder, "chain.pem"),
            "key": os.path.join(folder, "signer.key")}


def collect(build, version, target):
    """Copies the shipped files of a build into target."""
    for name, relative in shipped_files(build, version).items():
        os.makedirs(os.path.dirname(os.path.join(target, name)),
                    exist_ok=True)
        shutil.copy2(os.path.join(build, relative), os.path.join(target, name))
    return target


@contextlib.contextmanager
def scratch_on_another_file_system():
    """A folder on tmpfs, which lists a folder's files in another order than
    the disk does, when the machine has room there; removed afterwards,
    whether the builds in it succeed or not."""
    folder = None
    try:
        stats = os.statvfs("/dev/shm")
        if stats.f_bavail * stats.f_frsize > 2 << 30:
            folder = tempfile.mkdtemp(prefix="tolvarin-release-",
                                      dir="/dev/shm")
    except OSError:
        pass
    try:
        yield folder
    finally:
        if folder:
            shutil.rmtree(folder)


def main(source, out_dir, version):
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    manifest_path = os.path.join(out_dir, "release.json")
    if subprocess.run(["git", "-C", source, "rev-parse", "--git-dir"],
                      capture_output=True, check=False).returncode != 0:
        with open(manifest_path, "w", encoding="utf-8") as out:
            json.dump({"skipped": f"{source} is not a git checkout"}, out)
        return 0

    builder = Builder(out_dir)
    keys = make_keys(builder, os.path.join(out_dir, "keys"))
    signing = [f"-DTOLVARIN_SIGN_CERTIFICATE={keys['chain']}",
               f"-DTOLVARIN_SIGN_KEY={keys['key']}"]
    commit_time = subprocess.run(
        ["git", "-C", source, "log", "-1", "--format=%ct"], check=True,
        capture_output=True, text=True).stdout.strip()
    base_env = {k: v for k, v in os.environ.items()
                if k not in ("SOURCE_DATE_EPOCH", "TZ", "LC_ALL", "LANG")}

    # One: a clone, the time from git.
    one_src = os.path.join(out_dir, "one", "src")
    builder.run("one", ["git", "clone", "--quiet", source, one_src], out_dir)
    one_build = builder.release("one", one_src, dict(base_env, TZ="UTC"),
                                signing + PUBLISHING)

    # Two: a source archive with SOURCE_DATE_EPOCH, everything else varied.
    with scratch_on_another_file_system() as scratch:
        two_root = scratch or os.path.join(out_dir, "two")
        two_src = os.path.join(two_root, "other place", "source tree")
        os.makedirs(two_src)
        archive = os.path.join(two_root, "source.tar")
        with open(archive, "wb") as tar:
            builder.run("two", ["git", "-C", source, "archive",
                                "--format=tar", "HEAD"], out_dir, stdout=tar)
        builder.run("two", ["tar", "-xf", archive], two_src)
        # A library search path of its own, which a link must not see.
        libraries = os.path.join(two_root, "libraries")
        os.makedirs(libraries)
        two_env = dict(base_env, SOURCE_DATE_EPOCH=commit_time,
                       TZ="XYZ-13:45", LC_ALL="C.UTF-8",
                       LIBRARY_PATH=libraries)
        time.sleep(2)  # a later second than build one's, whatever its speed
        two_build = builder.release("two", two_src, two_env,
                                    signing + PUBLISHING, umask=0o077)
        two_shipped = collect(two_build, version,
                              os.path.join(out_dir, "two", "shipped"))

    # Unsigned: clone one's launcher without a certificate.
    unsigned_build = os.path.join(one_src, "build", "unsigned")
    builder.run("unsigned", ["cmake", "--preset", "release", "-B",
                             unsigned_build], one_src, base_env)
    builder.run("unsigned", ["cmake", "--build", unsigned_build, "--target",
                             "launcher"], one_src, base_env)
    unsigned = os.path.join(out_dir, "unsigned")
    os.makedirs(unsigned)
    shutil.copy2(os.path.join(unsigned_build, "Tolvarin.exe"), unsigned)

    # Guarded: Control Flow Guard and the CET mark, the vendor's option.
    guarded_build = os.path.join(one_src, "build", "guarded")
    builder.run("guarded", ["cmake", "--preset", "release", "-B",
                            guarded_build,
                            "-DTOLVARIN_PROCESS_MITIGATIONS=ON"] + signing,
                one_src, base_env)
    builder.run("guarded", ["cmake", "--build", guarded_build, "--parallel",
                            str(os.cpu_count() or 2)], one_src, base_env)

    # Older: the same packages made to carry an older version, and without
    # a download location, so without manifests.
    older = os.path.join(out_dir, "older")
    builder.run("older", ["cpack", "-G", "ZIP;NSIS", "-B", older, "-D",
                          f"CPACK_PACKAGE_VERSION={OLDER_VERSION}", "-D",
                          "CPACK_TOLVARIN_MANIFESTS="], one_build, base_env)
    package = PACKAGE.format(version=version)

    # Restamp: after a new commit the existing unsigned build configures
    # again by itself and stamps its images with the new commit's time.
    restamp_time = int(commit_time) + 86400
    stamp = f"@{restamp_time} +0000"
    builder.run("restamp", ["git", "-c", "user.name=Release test", "-c",
                            "user.email=release-test@example.invalid",
                            "commit", "--allow-empty", "--quiet", "-m",
                            "Later"], one_src,
                dict(base_env, GIT_AUTHOR_DATE=stamp,
                     GIT_COMMITTER_DATE=stamp))
    builder.run("restamp", ["cmake", "--build", unsigned_build, "--target",
                            "launcher"], one_src, base_env)

    manifest = {
        "version": version,
        "commit_time": int(commit_time),
        "keys": keys,
        "one": {"source": one_src, "build": one_build,
                "shipped": collect(one_build, version,
                                   os.path.join(out_dir, "one", "shipped"))},
        "two": {"source": two_src, "build": two_build,
                "shipped": two_shipped},
        "unsigned_launcher": os.path.join(unsigned, "Tolvarin.exe"),
        "guarded": guarded_build,
        "older_installer": os.path.join(older, package + ".exe"),
        "older_packages": older,
        "older_version": OLDER_VERSION,
        "restamped": {"launcher": os.path.join(unsigned_build,
                                               "Tolvarin.exe"),
                      "time": restamp_time},
    }
    with open(manifest_path, "w", encoding="utf-8") as out:
        json.dump(manifest, out, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]),
                  sys.argv[3]))
