#!/usr/bin/env python3
"""The command line as a process: exit statuses and messages, the log, signals, resource
limits and permissions, each case in a temporary folder of its own.

    hostile_cli.py --cli PROGRAM [CASE...]
"""

import os
import re
import resource
import select
import signal
import subprocess
import sys
import tempfile
import time

CLI = ""
PAGE = b'<title>A</title><meta name="keywords" content="alpha">'
OLD = {"indexed_words.js": b'var index=[["OLD",0]\n];', "indexed_docs.js": b'var docs=[[0,"OLD","o.htm",""]];'}
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def write(path, data=PAGE, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
    return os.path.dirname(path)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def old_index(folder, kept=False):
    """Puts the old index into folder, or says whether it is still there, alone."""
    if kept:
        return all(read(f"{folder}/{name}") == data for name, data in OLD.items()) and not [
            name for name in os.listdir(folder) if ".vantrel-" in name]
    for name, data in OLD.items():
        write(f"{folder}/{name}", data, 0o666)


def run(*args, preexec=None, as_nobody=False):
    done = subprocess.run((NOBODY if as_nobody else []) + [CLI, *args], preexec_fn=preexec, timeout=600,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode, done.stdout, done.stderr


def job_log(*pages, failure=None):
    lines = b"".join(b"Parsing %s...\nDone!\n" % os.fsencode(page) for page in pages) + b"Creating index ...\n"
    return lines + (failure + b"\nIndexing interrupted!\n" if failure else b"Indexing complete!\n")


def usage(root):
    site, out, plain = write(f"{root}/site/a.htm"), f"{root}/out", f"{root}/file"
    write(plain), os.mkdir(out)
    destination, source = b"Please specify correct destination folder.", b"Please specify correct source folder."
    for args, status, message in [
            (["", ""], 2, destination), ([site, plain], 2, destination), ([site, plain + "/below"], 2, destination),
            (["", out], 2, source), ([f"{root}/missing", f"{root}/new/out"], 2, source),
            ([site, out, "--path", "url"], 2, b"Supply URL prefix!"), ([site, out, "--content", "al"], 2, b"--content"),
            ([site, out, "--threads", "257"], 2, b"--threads"), ([site], 2, b"DESTINATION is required"),
            ([site, out, "--language", "english"], 2, b"--language"), ([site, out, "--language", "d\x1be"], 2, b"--language"),
            (["--help"], 0, b""), (["--version"], 0, b""), ([site, f"{root}/logged", "--log", "/dev/full"], 1, b"/dev/full"),
            ([site, f"{root}/made/for/us", "--quiet"], 0, b""), ([site, f"{root}/german", "--language", "de-AT"], 0, b""),
            ([site, f"{root}/plain", "--plain"], 0, b"--plain")]:
        code, _, err = run(*args)
        assert code == status and message in err, f"{args}: exit {code}, stderr {err!r}"
    assert os.listdir(out) == [] and not os.path.exists(f"{root}/new"), "a refused run wrote"
    assert read(f"{root}/made/for/us/indexed_docs.js").startswith(b'var docs=[[0,"A",'), "no index in a new folder"


def log_lines(root):
    """Every line in the log and on standard output, control bytes as \\xHH; the index
    the same in another process, whose word table has another hash key."""
    site = write(f"{root}/site/a\nb\x1b.htm")
    write(f"{site}/z.htm")
    code, out, _ = run("--verbose", "--log", f"{root}/log", site, f"{root}/out")
    expected = job_log(f"{site}/a\\x0Ab\\x1B.htm", f"{site}/z.htm")
    assert code == 0 and read(f"{root}/log") == expected, read(f"{root}/log")
    summary = re.fullmatch(rb"Indexing complete: 2 pages, \d+ words in [\d.]+ s\.\nSearch page: .*/out/search.html\n",
                           out[len(expected):])
    assert out.startswith(expected) and summary, f"--verbose: {out!r}"
    os.symlink(f"{root}/elsewhere", f"{site}/elsewhere")
    write(f"{root}/elsewhere/o.htm")
    code, out, _ = run("--stay-inside", site, f"{root}/again")
    assert code == 0 and b"1 page or folder outside the source folder was skipped (links" in out, out
    assert all(read(f"{root}/out/{name}") == read(f"{root}/again/{name}") for name in OLD), "the index changed"
    # Control and direction-changing characters, raw or encoded, and a mistyped value.
    write(f"{site}/" + os.fsdecode(b"b\x9b2J \xc2\x9b \xe2\x80\xae.htm"))  # raw C1, encoded C1, U+202E
    code, out, _ = run("--verbose", "--log", f"{root}/log2", site, f"{root}/third")
    shown = b"Parsing %s/b\\x9B2J \\u{009B} \\u{202E}.htm..." % os.fsencode(site)
    assert code == 0 and shown in read(f"{root}/log2") and shown in out, read(f"{root}/log2")
    code, _, err = run(site, f"{root}/fourth", "--content", "\x1b]0;owned\x07\u202e")
    assert code == 2 and b"\x1b" not in err and b"\x07" not in err and b"\xe2\x80\xae" not in err, err
    assert b"keywords" in err and b"\\x1B" in err, err


def cannot_write(root):
    site, out = write(f"{root}/site/a.htm"), f"{root}/out"
    os.makedirs(f"{out}/indexed_words.js")
    code, stdout, err = run("--quiet", site, out)
    assert code == 1 and stdout == b"", f"exit {code}"
    assert f"cannot write {out}/indexed_words.js: Is a directory".encode() in err and b"Index not written" in err, err


def foreign_files(root):
    site, out = write(f"{root}/site/a.htm"), write(f"{root}/out/search.html", b"<title>Our own</title>")
    code, _, err = run(site, out)
    assert code == 2 and f"{out}/search.html was not written by VantrelIndexer".encode() in err, err
    assert run("--overwrite", site, out)[0] == 0, "--overwrite did not reach the job"


def file_size_limit(root):
    site = write(f"{root}/site/many.htm", b'<meta name="keywords" content="%s">' % b" ".join(
        b"w%d" % i for i in range(30000)))
    old_index(f"{root}/out")
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (100 << 10, 100 << 10))
    code, _, _ = run("--quiet", "--log", f"{root}/log", site, f"{root}/out", preexec=limit)
    assert code == 1 and read(f"{root}/log") == job_log(f"{site}/many.htm", failure=b"Can't create index file!")
    assert old_index(f"{root}/out", kept=True), os.listdir(f"{root}/out")


def sparse_pages(root):
    """Pages of 4 GB and 1 TB of zero bytes have empty text; reading them costs neither."""
    site = write(f"{root}/site/a.htm")
    for name, size in (("big.htm", 4 << 30), ("huge.htm", 1 << 40)):
        with open(f"{site}/{name}", "wb") as f:
            f.truncate(size)
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    if run("--version", preexec=limit)[0] != 0:
        return print("  skipped: the program does not start in 1 GB of address space (a sanitizer's build?)")
    code, _, _ = run("--quiet", "--threads", "2", "--log", f"{root}/log", site, f"{root}/out", preexec=limit)
    expected = job_log(*(f"{site}/{name}" for name in ("a.htm", "big.htm", "huge.htm")))
    assert code == 0 and read(f"{root}/log") == expected, read(f"{root}/log")


def permissions(root):
    """As a user without rights: pages and folders they may not read, a folder they may
    not write, an index file of somebody else's."""
    as_nobody = os.geteuid() == 0
    if as_nobody and subprocess.run(NOBODY + ["true"], stderr=subprocess.DEVNULL).returncode != 0:
        return print("  skipped: cannot drop privileges")
    os.chmod(root, 0o755)
    site = write(f"{root}/site/ok.htm")
    write(f"{site}/secret.htm", b"<meta name=keywords content=hidden>", 0)
    write(f"{site}/nolist/inside.htm"), write(f"{site}/noenter/behind.htm"), write(f"{site}/sub/b.htm")
    os.chmod(f"{site}/nolist", 0o311), os.chmod(f"{site}/noenter", 0o644)
    logs = write(f"{root}/logs/x", b"", 0o666)
    os.chmod(logs, 0o777)
    for out, mode, docs_mode, failure in [("open", 0o777, 0o666, None), ("locked", 0o555, 0o666, b"index"),
                                          ("shared", 0o777, 0o644, b"dictionary")]:
        if out == "shared" and not as_nobody:
            continue  # only root can leave a file of its own there
        old_index(f"{root}/{out}")
        os.chmod(f"{root}/{out}/indexed_docs.js", docs_mode), os.chmod(f"{root}/{out}", mode)
        failure = failure and b"Can't create %s file!" % failure
        code, _, _ = run("--quiet", "--log", f"{logs}/{out}", site, f"{root}/{out}", as_nobody=as_nobody)
        pages = (f"{site}/ok.htm", f"{site}/secret.htm", f"{site}/sub/b.htm")
        assert code == (1 if failure else 0) and read(f"{logs}/{out}") == job_log(*pages, failure=failure), out
        assert old_index(f"{root}/{out}", True) if failure else b"HIDDEN" not in read(f"{root}/{out}/indexed_words.js")


def signals(root):
    """A Ctrl-C waiting when the program starts, Ctrl-C and SIGTERM while the job is held on
    a full log pipe, and a second Ctrl-C: the old index stays whole."""
    for i in range(3000):
        site = write(f"{root}/site/f{i % 20:02}/p{i:05}.htm", b"<title>Page</title><p>" + b"text %d " % i * 100)
    site = os.path.dirname(site)

    def pending_interrupt():
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        os.kill(os.getpid(), signal.SIGINT)

    old_index(f"{root}/out")
    code, _, _ = run("--quiet", "--log", f"{root}/log", site, f"{root}/out", preexec=pending_interrupt)
    assert code == 1 and read(f"{root}/log") == b"Indexing interrupted!\n", "an early Ctrl-C did not reach the job"
    for sent, status in ([signal.SIGINT], 1), ([signal.SIGTERM], 1), ([signal.SIGINT, signal.SIGINT], 130):
        fifo = f"{root}/log-{status}-{sent[0]}"
        os.mkfifo(fifo)
        process = subprocess.Popen([CLI, "--threads", "2", "--log", fifo, site, f"{root}/out"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        log, seen = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK), [b""]  # the program may never open it

        def read_log(enough):
            while not enough(seen[0]):
                chunk = os.read(log, 65536) if select.select([log], [], [], 0.05)[0] else b""
                seen[0] += chunk
                if not chunk and process.poll() is not None:
                    return

        read_log(lambda text: text.count(b"Done!") >= 10)
        assert process.poll() is None, f"{sent}: exit {process.returncode} before the stop"
        for number, sig in enumerate(sent):  # the program waits on the full pipe by now
            process.send_signal(sig)
            if number + 1 < len(sent):
                assert process.stderr.readline().startswith(b"Stopping..."), "no word of the stop"
        if status != 130:
            read_log(lambda text: False)
        os.close(log)
        code = process.wait(timeout=600)
        assert code == status and (status == 130 or seen[0].endswith(b"index ...\nIndexing interrupted!\n")), sent
        assert old_index(f"{root}/out", True), f"{sent}: {os.listdir(f'{root}/out')}"


def watching(root):
    """--watch: a burst of saves gives one run, an edit inside the destination none, and a
    Ctrl-C during a run (held on a full log pipe) ends the program with the last good
    index kept whole."""
    for i in range(3000):
        site = write(f"{root}/site/f{i % 20:02}/p{i:05}.htm", b"<title>Page</title><p>" + b"text %d " % i * 100)
    site, out, fifo = os.path.dirname(site), f"{root}/site/out", f"{root}/log"
    os.mkfifo(fifo)
    process = subprocess.Popen([CLI, "--watch", "--threads", "1", "--log", fifo, site, out],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    log, logged, printed = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK), [b""], [b""]

    def pump(enough, seconds=120):
        """Reads the log and the printed lines until enough(log) or seconds have passed."""
        end = time.monotonic() + seconds
        while not enough(logged[0]) and time.monotonic() < end:
            for ready in select.select([log, process.stdout], [], [], 0.05)[0]:
                chunk = os.read(ready if ready == log else process.stdout.fileno(), 65536)
                (logged if ready == log else printed)[0] += chunk
            if process.poll() is not None and not select.select([log, process.stdout], [], [], 0)[0]:
                return

    def runs_ended():
        return logged[0].count(b"Indexing complete!")

    try:
        pump(lambda text: b"Watching " in printed[0])
        assert b"Watching " in printed[0], printed[0]
        for i in range(5):
            write(f"{site}/burst/b{i}.htm", b"<title>Burst</title><p>burstword%d</p>" % i)
        pump(lambda text: text.count(b"Indexing complete!") == 2, 60)
        pump(lambda text: False, 2)  # no second run for the same burst
        watch_lines = printed[0].split(b"Ctrl-C ends.\n", 1)[1].splitlines()
        assert runs_ended() == 2 and len(watch_lines) == 1 and b": 3005 pages (5 read)" in watch_lines[0], (runs_ended(), printed)
        write(f"{out}/notes.txt", b"written inside the destination")
        pump(lambda text: False, 2)
        assert runs_ended() == 2 and len(printed[0].split(b"Ctrl-C ends.\n", 1)[1].splitlines()) == 1, printed
        kept = {name: read(f"{out}/{name}") for name in ("indexed_words.js", "indexed_docs.js", "indexed_pages.js")}
        for i in range(0, 3000, 2):
            write(f"{site}/f{i % 20:02}/p{i:05}.htm", b"<title>Changed</title><p>changed %d</p>" % i)
        pump(lambda text: b"Parsing" in text.rsplit(b"Indexing complete!", 1)[-1], 60)
        assert process.poll() is None and runs_ended() == 2, "the run did not start"
        time.sleep(0.5)  # the log pipe fills: the run waits mid-way
        process.send_signal(signal.SIGINT)
        pump(lambda text: False, 120)
        code = process.wait(timeout=120)
        assert code == 1 and logged[0].endswith(b"Indexing interrupted!\n"), (code, logged[0][-200:])
        assert b"indexing interrupted" in printed[0], printed[0]
        assert {name: read(f"{out}/{name}") for name in kept} == kept, "the last good index was not kept"
        assert not [name for name in os.listdir(out) if ".vantrel-" in name], os.listdir(out)
    finally:
        os.close(log)
        if process.poll() is None:
            process.kill()
            process.wait()


OTHER = "vantrel-other"


def other_user():
    """The uid and gid of a second unprivileged user, made when missing; None unless root."""
    if os.geteuid() != 0:
        return None
    import pwd
    try:
        entry = pwd.getpwnam(OTHER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", OTHER],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        entry = pwd.getpwnam(OTHER)
    return entry.pw_uid, entry.pw_gid


def everything(folder):
    """Every byte of every file below folder."""
    found = b""
    for parent, _, files in os.walk(folder):
        found += b"".join(read(f"{parent}/{name}") for name in files if os.path.isfile(f"{parent}/{name}"))
    return found


def containment(root):
    """A secret outside the site, reached by links to it and to its folder, by a hard link
    to another user's private file, and with the folder of page texts planted by another
    user in a shared sticky destination: none of it is published, nothing of theirs goes."""
    os.chmod(root, 0o755)
    secret = b"<title>Secret</title><p>swordfish</p>"
    write(f"{root}/private/secret.htm", secret, 0o600)
    site = write(f"{root}/site/a.htm")
    os.symlink(f"{root}/private/secret.htm", f"{site}/x.htm")
    os.symlink(f"{root}/private", f"{site}/folder")
    os.symlink("/proc/self/environ", f"{site}/environ.htm")
    os.symlink("a.htm", f"{site}/in.htm")
    for options, skipped in ([], b"3 pages or folders"), (["--stay-inside"], b"3 pages or folders"):
        out = f"{root}/out{len(options)}"
        code, stdout, _ = run(*options, site, out)
        assert code == 0 and skipped in stdout and b"swordfish" not in everything(out), (options, stdout)
        assert b'"in.htm"' in read(f"{out}/indexed_docs.js"), "a link inside the site was left out"
    code, _, _ = run("--follow-outside", site, f"{root}/followed")
    assert code == 0 and b"swordfish" in everything(f"{root}/followed"), "--follow-outside follows nothing"
    ids = other_user()
    if ids is None:
        return print("  skipped in part: a second user needs root")
    uid, gid = ids
    theirs = write(f"{root}/theirs/site/a.htm")
    os.chown(f"{root}/theirs", uid, gid), os.chown(theirs, uid, gid)
    os.link(f"{root}/private/secret.htm", f"{theirs}/hard.htm")
    code, stdout, _ = run(theirs, f"{root}/hard")
    assert code == 0 and b"swordfish" not in everything(f"{root}/hard"), stdout
    assert b"1 page that the source folder's owner may not read" in stdout, stdout
    shared = f"{root}/shared"
    os.mkdir(shared), os.chmod(shared, 0o1777)
    planted = subprocess.run(NOBODY[:1] + [f"--reuid={uid}", f"--regid={gid}", "--clear-groups", "sh", "-c",
                                           f"mkdir -m 777 {shared}/indexed_text && echo 'alert(1)' > {shared}/indexed_text/x.js"])
    assert planted.returncode == 0, "the other user could not plant a folder"
    code, _, err = run(site, shared)
    assert code == 2 and b"indexed_text: it belongs to another user" in err, err
    assert sorted(os.listdir(shared)) == ["indexed_text"] and os.listdir(f"{shared}/indexed_text") == ["x.js"], err


def site_files_kept(root):
    """A site's own indexed_pages.js stops no --plain run; its own indexed_text is never
    adopted or emptied; many links to one large page write it once."""
    site, out = write(f"{root}/site/a.htm"), f"{root}/out"
    own = {"indexed_pages.js": b"the site's own", "indexed_text/0123456789abcdef/1.js": b"the site's own too"}
    for name, data in own.items():
        write(f"{out}/{name}", data)
    code, _, err = run("--plain", site, out)
    assert code == 0 and all(read(f"{out}/{name}") == data for name, data in own.items()), err
    code, _, err = run("--overwrite", site, out)
    assert code == 2 and b"VantrelIndexer did not make it" in err, err
    assert all(read(f"{out}/{name}") == data for name, data in own.items()), "a file of the site's own changed"
    big = b"<title>Big</title><p>" + b"word " * 200000 + b"\x01" * 100000
    write(f"{site}/big/page.htm", big)
    for i in range(200):
        os.symlink("page.htm", f"{site}/big/l{i:03}.htm")
    code, stdout, err = run(site, f"{root}/links")
    size = sum(os.path.getsize(f"{parent}/{name}") for parent, _, files in os.walk(f"{root}/links") for name in files)
    assert code == 0 and size < 3 * (len(big) + 200) + (4 << 20), (size, stdout, err)


def leaving_out(root):
    """The ignore file, --exclude and noindex reach the job; a bad one is refused, printable, writing nothing."""
    site, out = f"{root}/site", f"{root}/out"
    for page in ["a.htm", "genindex.html", "_sources/s.htm", "old/o.htm", "b.htm"]:
        write(f"{site}/{page}")
    write(f"{site}/hidden.htm", b'<meta name="robots" content="noindex"><title>H</title>')
    write(f"{site}/.vantrelignore", b"[abc\n")
    os.mkdir(out)
    code, _, err = run(site, out)
    assert code == 2 and err == b'Nothing was indexed: %s/.vantrelignore, line 1: a "[" has no "]".\n' % os.fsencode(site), err
    write(f"{site}/.vantrelignore", b"# the generator's own\n_sources/\ngenindex*.html\n")
    code, _, err = run(site, out, "--exclude", "x\x1b[2J[")
    assert code == 2 and b"\\x1B" in err and b"\x1b" not in err, err
    assert os.listdir(out) == [], "a refused run wrote"
    code, text, err = run(site, out, "--exclude", "old/")
    assert code == 0 and b"Left out: 1 page and 1 folder by .vantrelignore, 1 folder by --exclude and 1 page marked " \
        b"noindex.\n" in text, (text, err)
    assert read(f"{out}/indexed_docs.js").count(b'"A",') == 2 and b"hidden" not in read(f"{out}/indexed_docs.js")


def main():
    global CLI
    if len(sys.argv) < 3 or sys.argv[1] != "--cli":
        sys.exit(__doc__)
    CLI, failed = os.path.abspath(sys.argv[2]), 0
    for case in [usage, log_lines, cannot_write, foreign_files, file_size_limit, sparse_pages, permissions, signals,
                 containment, site_files_kept, leaving_out, watching]:
        if len(sys.argv) > 3 and case.__name__ not in sys.argv[3:]:
            continue
        with tempfile.TemporaryDirectory(prefix="vantrel-cli-") as root:
            try:
                case(root)
                print(f"PASS {case.__name__}", flush=True)
            except (AssertionError, OSError, subprocess.SubprocessError) as error:
                failed += 1
                print(f"FAIL {case.__name__}: {error!r}", flush=True)
            finally:
                subprocess.run(["chmod", "-R", "u+rwx", root])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
