#!/usr/bin/env python3
"""The command line as a process: exit statuses and messages, the log, signals, resource
limits and permissions, each case on a tree of its own in a temporary folder.

    hostile_cli.py --cli PROGRAM [CASE...]
"""

import os
import resource
import signal
import subprocess
import sys
import tempfile

CLI = ""
PAGE = b'<title>A</title><meta name="keywords" content="alpha">'
MARK = b'<meta name="generator" content="VantrelIndexer">'
OLD = {"indexed_words.js": b'var index=[["OLD",0]\n];', "indexed_docs.js": b'var docs=[[0,"OLD","o.htm",""]];'}
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


class Tree:
    def __init__(self, root):
        self.root = root

    def path(self, name):
        return os.path.join(self.root, name)

    def write(self, name, data=PAGE, mode=None):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def folder(self, name, mode=0o755):
        os.makedirs(self.path(name), exist_ok=True)
        os.chmod(self.path(name), mode)
        return self.path(name)

    def old_index(self, folder):
        for name, data in OLD.items():
            self.write(f"{folder}/{name}", data)

    def old_index_kept(self, folder):
        return all(read(self.path(f"{folder}/{name}")) == data for name, data in OLD.items())

    def temporaries(self, folder):
        return [name for name in os.listdir(self.path(folder)) if ".vantrel-" in name]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*args, preexec=None, as_nobody=False):
    done = subprocess.run((NOBODY if as_nobody else []) + [CLI, *args], preexec_fn=preexec, timeout=600,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode, done.stdout, done.stderr


def job_log(*pages, failure=None):
    lines = b"".join(b"Parsing %s...\nDone!\n" % os.fsencode(page) for page in pages) + b"Creating index ...\n"
    return lines + (failure + b"\nIndexing interrupted!\n" if failure else b"Indexing complete!\n")


def usage(t):
    site, out, plain = os.path.dirname(t.write("site/a.htm")), t.folder("out"), t.write("file", b"x")
    destination, source = b"Please specify correct destination folder.", b"Please specify correct source folder."
    for args, status, message in [
            (["", ""], 2, destination), ([site, plain], 2, destination), ([site, plain + "/below"], 2, destination),
            (["", out], 2, source), ([t.path("missing"), t.path("new/out")], 2, source),
            ([site, out, "--path", "url"], 2, b"Supply URL prefix!"), ([site, out, "--content", "all_"], 2, b"--content"),
            ([site, out, "--threads", "257"], 2, b"--threads"), ([site], 2, b"DESTINATION is required"),
            (["--help"], 0, b""), (["--version"], 0, b""), ([site, t.path("logged"), "--log", "/dev/full"], 1, b"/dev/full"),
            ([site, t.path("made/for/us"), "--quiet"], 0, b"")]:
        code, _, err = run(*args)
        assert code == status and message in err, f"{args}: exit {code}, stderr {err!r}"
    assert os.listdir(out) == [] and not os.path.exists(t.path("new")), "a refused run wrote"
    assert read(t.path("made/for/us/indexed_docs.js")).startswith(b'var docs=[[0,"A",'), "no index in a made folder"


def log_lines(t):
    site = os.path.dirname(t.write("site/a\nb\x1b.htm"))
    t.write("site/z.htm")
    code, out, _ = run("--verbose", "--log", t.path("log"), site, t.path("out"))
    expected = job_log(site + "/a\\x0Ab\\x1B.htm", site + "/z.htm")
    assert code == 0 and read(t.path("log")) == expected and out == expected, f"log {read(t.path('log'))!r}"
    os.symlink(t.write("elsewhere/o.htm"), t.path("site/o.htm"))
    code, out, _ = run("--stay-inside", site, t.path("out"))
    assert code == 0 and b"1 pages or folders outside the source folder were skipped." in out, out


def cannot_write(t):
    site, out = os.path.dirname(t.write("site/a.htm")), t.folder("out/indexed_words.js")
    code, stdout, err = run("--quiet", site, os.path.dirname(out))
    assert code == 1 and stdout == b"", f"exit {code}"
    assert f"cannot write {out}: Is a directory".encode() in err and b"Index not written" in err, err


def foreign_files(t):
    site, own = os.path.dirname(t.write("site/a.htm")), t.write("out/search.html", b"<title>Our own</title>")
    code, _, err = run(site, t.path("out"))
    assert code == 2 and f"{own} was not written by VantrelIndexer".encode() in err, f"exit {code}: {err!r}"
    assert os.listdir(t.path("out")) == ["search.html"], "a refused run wrote"
    code, _, _ = run("--overwrite", site, t.path("out"))
    assert code == 0 and MARK in read(own), "--overwrite did not replace the file"


def file_size_limit(t):
    words = " ".join("w%d" % i for i in range(30000)).encode()
    site = os.path.dirname(t.write("site/many.htm", b'<meta name="keywords" content="%s">' % words))
    t.old_index("out")
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (100 << 10, 100 << 10))
    code, _, _ = run("--quiet", "--log", t.path("log"), site, t.path("out"), preexec=limit)
    assert code == 1, f"exit {code}"
    assert read(t.path("log")) == job_log(site + "/many.htm", failure=b"Can't create index file!"), read(t.path("log"))
    assert t.old_index_kept("out") and not t.temporaries("out"), os.listdir(t.path("out"))


def sparse_pages(t):
    """Pages of 4 GB and 1 TB of zero bytes have empty text; reading them costs neither."""
    site = os.path.dirname(t.write("site/a.htm"))
    for name, size in (("big.htm", 4 << 30), ("huge.htm", 1 << 40)):
        with open(t.path("site/" + name), "wb") as f:
            f.truncate(size)
    limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    code, _, _ = run("--quiet", "--threads", "2", "--log", t.path("log"), site, t.path("out"), preexec=limit)
    expected = job_log(*(f"{site}/{name}" for name in ("a.htm", "big.htm", "huge.htm")))
    assert code == 0 and read(t.path("log")) == expected, read(t.path("log"))


def permissions(t):
    """As a user without rights: pages and folders they may not read, destinations they may
    not write, an index file of somebody else's."""
    as_nobody = os.geteuid() == 0
    if as_nobody and subprocess.run(NOBODY + ["true"], stderr=subprocess.DEVNULL).returncode != 0:
        return print("  skipped: cannot drop privileges")
    os.chmod(t.root, 0o755)
    site = os.path.dirname(t.write("site/ok.htm"))
    t.write("site/secret.htm", b"<meta name=keywords content=hidden>", mode=0)
    t.write("site/nolist/inside.htm"), t.write("site/noenter/behind.htm"), t.write("site/sub/b.htm")
    os.chmod(t.path("site/nolist"), 0o311), os.chmod(t.path("site/noenter"), 0o644)
    logs, pages = t.folder("logs", 0o777), [f"{site}/{page}" for page in ("ok.htm", "secret.htm", "sub/b.htm")]
    for out, mode, docs_mode, failure in [("open", 0o777, 0o666, None), ("locked", 0o555, 0o666, b"Can't create index file!"),
                                          ("shared", 0o777, 0o644, b"Can't create dictionary file!")]:
        if out == "shared" and not as_nobody:
            continue  # only root can leave a file of its own there
        t.old_index(out)
        os.chmod(t.path(f"{out}/indexed_words.js"), 0o666), os.chmod(t.path(f"{out}/indexed_docs.js"), docs_mode)
        t.folder(out, mode)
        code, _, _ = run("--quiet", "--log", f"{logs}/{out}", site, t.path(out), as_nobody=as_nobody)
        assert code == (1 if failure else 0) and read(f"{logs}/{out}") == job_log(*pages, failure=failure), out
        assert (t.old_index_kept(out) if failure else b"HIDDEN" not in read(t.path(f"{out}/indexed_words.js"))), out


def start_with_fifo_log(t, name, *args):
    """Starts the program with its log in a pipe it blocks on once the pipe is full."""
    fifo = t.path(name)
    os.mkfifo(fifo)
    process = subprocess.Popen([CLI, "--threads", "2", "--log", fifo, *args], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return process, open(fifo, "rb", buffering=0)


def signals(t):
    """Ctrl-C and SIGTERM while the job runs, a Ctrl-C already waiting when it starts, and a
    second Ctrl-C: the old index stays whole, the log ends as it should."""
    for i in range(3000):
        t.write(f"site/f{i % 20:02}/p{i:05}.htm", b"<title>Page</title><p>" + b"text %d " % i * 100)
    site = t.path("site")

    def pending_interrupt():
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        os.kill(os.getpid(), signal.SIGINT)

    t.old_index("out")
    code, _, _ = run("--quiet", "--log", t.path("log"), site, t.path("out"), preexec=pending_interrupt)
    assert code == 1 and read(t.path("log")) == b"Indexing interrupted!\n" and t.old_index_kept("out"), f"exit {code}"
    for sent, status in ([signal.SIGINT], 1), ([signal.SIGTERM], 1), ([signal.SIGINT, signal.SIGINT], 130):
        t.old_index("out")
        process, log = start_with_fifo_log(t, f"log{len(sent)}{sent[0]}", site, t.path("out"))
        seen = b""
        while seen.count(b"Done!") < 10:
            seen += log.read(4096)
        for number, sig in enumerate(sent):  # the program has stopped on the full pipe
            process.send_signal(sig)
            if number + 1 < len(sent):
                assert process.stderr.readline().startswith(b"Stopping..."), "no word of the stop"
        if status != 130:
            seen += b"".join(iter(lambda: log.read(65536), b""))
        log.close()
        code = process.wait(timeout=600)
        assert code == status, f"{sent}: exit {code}"
        assert status == 130 or seen.endswith(b"Creating index ...\nIndexing interrupted!\n"), seen[-200:]
        assert t.old_index_kept("out") and not t.temporaries("out"), f"{sent}: {os.listdir(t.path('out'))}"


def two_processes(t):
    """The word table's hash key differs from process to process; the index does not."""
    for i in range(40):
        t.write(f"site/p{i}.htm", b"<p>" + b" ".join(b"w%dx%d" % (i * k % 97, k) for k in range(300)) + b"</p><p>")
    indexes = []
    for threads in ("1", "3"):
        code, _, _ = run("--quiet", "--threads", threads, t.path("site"), t.path(threads))
        assert code == 0, f"exit {code}"
        indexes.append([read(t.path(f"{threads}/{name}")) for name in OLD])
    assert indexes[0] == indexes[1], "two runs gave different index files"


CASES = [usage, log_lines, cannot_write, foreign_files, file_size_limit, sparse_pages, permissions, signals,
         two_processes]


def main():
    global CLI
    if len(sys.argv) < 3 or sys.argv[1] != "--cli":
        sys.exit(__doc__)
    CLI = os.path.abspath(sys.argv[2])
    failed = 0
    for case in [c for c in CASES if len(sys.argv) == 3 or c.__name__ in sys.argv[3:]]:
        with tempfile.TemporaryDirectory(prefix="vantrel-cli-") as root:
            try:
                case(Tree(root))
                print(f"PASS {case.__name__}", flush=True)
            except (AssertionError, OSError, subprocess.SubprocessError) as error:
                failed += 1
                print(f"FAIL {case.__name__}: {error}", flush=True)
            finally:
                subprocess.run(["chmod", "-R", "u+rwx", root])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
