#!/usr/bin/env python3
"""Hostile source trees and destinations, run through vantrelindexer-cli.

Every case builds its tree in a temporary folder, runs the command line with --log and
checks the exit status, the progress lines and that both index files load as scripts
(check_index.js under Node.js). Groups of cases are chosen with --group; ctest runs one
group per test. A group whose cases cannot run here exits with 77 (skipped) and says why.
"""

import argparse
import json
import os
import random
import resource
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, "check_index.js")
HANG_SECONDS = 1200  # a run that takes this long is taken for a hang
SKIPPED = 77
NO_TITLE = "Document has no name"
DROP_PRIVILEGES = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def b(text):
    return text if isinstance(text, bytes) else os.fsencode(text)


def write(path, content):
    with open(path, "wb") as f:
        f.write(b(content))


def walk_order(names):
    """Names as the walk takes them: upper-cased bytes, then raw bytes."""
    return sorted((b(n) for n in names), key=lambda n: (n.upper(), n))


def printable(path):
    """A path as the log shows it: control bytes as \\xHH."""
    return b"".join(b"\\x%02X" % c if c < 0x20 or c == 0x7F else bytes([c]) for c in b(path))


def page_log(path, unreadable=False, too_complex=False):
    path = printable(path)
    lines = b""
    if unreadable:
        lines += b"Cann't read file " + path + b"!\n"
    lines += b"Parsing " + path + b"...\n"
    if unreadable:
        lines += b"Cann't read file!\n"
    if too_complex:
        lines += b"Page too complex, indexed in part!\n"
    return lines + b"Done!\n"


def job_log(pages, *failures, complete=True):
    """The whole log of a job whose pages give the lines in pages (from page_log)."""
    tail = b"".join(b(f) + b"\n" for f in failures)
    end = b"Indexing complete!\n" if complete else b"Indexing interrupted!\n"
    return b"".join(pages) + b"Creating index ...\n" + tail + end


def shown(data, limit=600):
    text = repr(data)
    return text if len(text) <= limit else text[:limit] + "..."


class Result:
    def __init__(self, status, log, stdout, stderr, cpu, wall):
        self.status, self.log, self.stdout, self.stderr = status, log, stdout, stderr
        self.cpu, self.wall = cpu, wall

    def lines(self):
        return self.log.split(b"\n")[:-1] if self.log.endswith(b"\n") else self.log.split(b"\n")

    def expect_status(self, status):
        expect(self.status == status,
               f"exit status {self.status}, expected {status}; stderr {shown(self.stderr)}; "
               f"log tail {shown(self.log[-400:])}")

    def expect_log(self, expected):
        if self.log != expected:
            at = next((i for i, (x, y) in enumerate(zip(self.log, expected)) if x != y),
                      min(len(self.log), len(expected)))
            raise Failure(f"progress lines differ at byte {at}:\n  got      {shown(self.log[at - 80 if at > 80 else 0:at + 200])}"
                          f"\n  expected {shown(expected[at - 80 if at > 80 else 0:at + 200])}")

    def expect_well_formed(self, complete):
        """Pages each give Parsing ... Done!, then one Creating index and the final line."""
        lines = self.lines()
        final = b"Indexing complete!" if complete else b"Indexing interrupted!"
        expect(lines and lines[-1] == final, f"last line {shown(lines[-1:])}, expected {final}")
        expect(lines.count(b"Creating index ...") == 1, "not exactly one Creating index line")
        creating = lines.index(b"Creating index ...")
        parsing = False
        for line in lines[:creating]:
            if line.startswith(b"Parsing "):
                expect(not parsing, f"Parsing without Done! before {shown(line)}")
                parsing = True
            elif line == b"Done!":
                expect(parsing, "Done! without Parsing")
                parsing = False
        expect(not parsing, "the last page has no Done!")
        for line in lines[creating + 1:-1]:
            expect(line in (b"Can't create index file!", b"Can't create dictionary file!"),
                   f"unexpected line after Creating index: {shown(line)}")


class Suite:
    def __init__(self, cli, work):
        self.cli = os.path.abspath(cli)
        self.work = work
        self.runs = 0

    # -- trees --------------------------------------------------------------------------

    def folder(self, *parts, mode=None):
        path = os.path.join(b(self.work), *(b(p) for p in parts))
        os.makedirs(path, exist_ok=True)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def old_index(self, destination):
        """Puts a small valid index into destination and returns its bytes."""
        old = {"indexed_words.js": b'var index=[["OLD",0]\n];',
               "indexed_docs.js": b'var docs=[[0,"OLD","old.htm","01-01-2001"]];'}
        for name, content in old.items():
            write(os.path.join(destination, b(name)), content)
        return old

    def expect_old_index(self, destination, old, which=("indexed_words.js", "indexed_docs.js")):
        for name in which:
            with open(os.path.join(destination, b(name)), "rb") as f:
                expect(f.read() == old[name], f"{name} was changed by a failed job")

    def expect_no_temporaries(self, destination):
        left = [n for n in os.listdir(destination) if n.startswith(b".") and b".vantrel-" in n]
        expect(not left, f"temporary files left in the destination: {left}")

    # -- runs ---------------------------------------------------------------------------

    def run(self, source, destination, *options, quiet=True, as_nobody=False, preexec=None,
            cwd=None, log_folder=None):
        self.runs += 1
        log_path = os.path.join(b(log_folder or self.work), b"log-%d" % self.runs)
        command = [self.cli] + (["--quiet"] if quiet else []) + ["--log", log_path]
        command += list(options) + ["--", b(source), b(destination)]
        if as_nobody:
            command = DROP_PRIVILEGES + command
        started = time.monotonic()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                       preexec_fn=preexec, cwd=cwd)
            hang = threading.Timer(HANG_SECONDS, process.kill)
            hang.start()
            _, wait_status, usage = os.wait4(process.pid, 0)  # this run's own resource use
            hang.cancel()
            process.returncode = status = os.waitstatus_to_exitcode(wait_status)
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        wall = time.monotonic() - started
        expect(wall < HANG_SECONDS, f"the run did not end within {HANG_SECONDS} s: {shown(command)}")
        expect(status >= 0, f"the run was killed by signal {-status}; stderr {shown(stderr[-2000:])}")
        log = b""
        if os.path.exists(log_path):
            with open(log_path, "rb") as f:
                log = f.read()
        result = Result(status, log, stdout, stderr, usage.ru_utime + usage.ru_stime, wall)
        result.peak_memory = usage.ru_maxrss * 1024
        return result

    def index(self, destination, count_only=False, unpaired=False):
        """Loads both files with Node.js; returns {"docs": [...], "words": {...}}."""
        command = ["node", CHECKER, os.fsdecode(destination)] + (["--count-only"] if count_only else [])
        command += ["--unpaired"] if unpaired else []
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        expect(done.returncode == 0, f"index files do not load: {done.stderr.decode(errors='replace')}")
        return json.loads(done.stdout)

    def locations(self, destination):
        return [d[2] for d in self.index(destination)["docs"]]


# -- cases ------------------------------------------------------------------------------
# Each case takes the suite and returns nothing, raises Failure, or raises Skip(reason).

def case_special_entries(s):
    """FIFO, socket, broken link, device link and a folder named like pages."""
    src, dst = s.folder("special/src"), s.folder("special/dst")
    write(os.path.join(src, b"a.htm"), '<title>First</title><meta name="keywords" content="alpha">')
    os.mkfifo(os.path.join(src, b"fifo.htm"))
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    cwd = os.getcwd()
    os.chdir(src)  # socket paths are short; the tree's may not be
    try:
        listener.bind("sock.html")
    finally:
        os.chdir(cwd)
    os.symlink("missing.htm", os.path.join(src, b"broken.htm"))
    os.symlink("broken-too.htm", os.path.join(src, b"broken-too.htm"))  # links to itself
    os.symlink("a.htm", os.path.join(src, b"link.htm"))
    os.symlink("/dev/null", os.path.join(src, b"null.htm"))
    for name, seconds in ((b"future.htm", 1 << 40), (b"past.htm", -(1 << 40)), (b"epoch.htm", 0)):
        write(os.path.join(src, name), "<title>When</title><")
        try:
            os.utime(os.path.join(src, name), (seconds, seconds))
        except (OSError, OverflowError):
            pass  # the file system cannot hold that time; the page still counts
    os.mkdir(os.path.join(src, b"x.html"))
    write(os.path.join(src, b"x.html", b"inner.htm"), "<title>Inner</title><")
    pages = [b"a.htm", b"epoch.htm", b"future.htm", b"link.htm", b"past.htm", b"x.html/inner.htm"]
    try:
        r = s.run(src, dst)
    finally:
        listener.close()
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/" + p) for p in pages]))
    index = s.index(dst)
    expect([d[2] for d in index["docs"]] == [p.decode() for p in pages], f"documents {index['docs']}")
    expect([d[1] for d in index["docs"]] == ["FIRST", "WHEN", "WHEN", "FIRST", "WHEN", "INNER"],
           f"titles {index['docs']}")
    expect(index["words"].get("ALPHA") == [0, 3], f"ALPHA {index['words'].get('ALPHA')}")
    dates = {d[2]: d[3] for d in index["docs"]}
    expect(dates["epoch.htm"] == "01-01-1970", f"date of the epoch {dates['epoch.htm']!r}")
    # Times the file system clamps or the calendar cannot hold give a clamped or an empty
    # date; check_index.js has checked their form.
    s.expect_no_temporaries(dst)


def case_unreadable_by_system(s):
    """A page that opens but cannot be read (a link to the process's own memory)."""
    if not os.path.exists("/proc/self/mem"):
        raise Skip("no /proc/self/mem to make a page that opens but cannot be read")
    src, dst = s.folder("proc/src"), s.folder("proc/dst")
    write(os.path.join(src, b"a.htm"), "<title>A</title><")
    os.symlink("/proc/self/mem", os.path.join(src, b"mem.htm"))
    r = s.run(src, dst, quiet=False)
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/a.htm"), page_log(src + b"/mem.htm", unreadable=True)]))
    expect(b"1 pages could not be read whole" in r.stdout, f"summary {shown(r.stdout)}")
    docs = s.index(dst)["docs"]
    expect([d[1] for d in docs] == ["A", NO_TITLE], f"titles {docs}")


def case_link_loop(s):
    """A folder linking to its parent and to itself: the walk ends, each page once."""
    src, dst = s.folder("loop/src"), s.folder("loop/dst")
    sub = s.folder("loop/src/sub")
    write(os.path.join(src, b"a.htm"), "<title>A</title><")
    write(os.path.join(sub, b"b.htm"), "<title>B</title><")
    os.symlink("..", os.path.join(sub, b"up"))
    os.symlink(".", os.path.join(sub, b"self"))
    os.symlink(src, os.path.join(sub, b"root"))
    r = s.run(src, dst, "--threads", "2")
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/a.htm"), page_log(src + b"/sub/b.htm")]))
    expect(s.locations(dst) == ["a.htm", "sub/b.htm"], f"documents {s.locations(dst)}")


def case_folder_reached_twice(s):
    """The same folder through two links is indexed once, under the first path."""
    src, dst = s.folder("twice/src"), s.folder("twice/dst")
    real = s.folder("twice/src/real")
    write(os.path.join(real, b"p.htm"), "<title>P</title><meta name=keywords content=\"shared\">")
    os.symlink("real", os.path.join(src, b"l1"))
    os.symlink(real, os.path.join(src, b"L2"))
    r = s.run(src, dst)
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/l1/p.htm")]))
    index = s.index(dst)
    expect(s.locations(dst) == ["l1/p.htm"], f"documents {s.locations(dst)}")
    expect(index["words"] == {"P": [0], "SHARED": [0]}, f"words {index['words']}")


def case_deep_tree(s):
    """10,000 nested folders: no crash; pages up to the path length limit are found."""
    src, dst = s.folder("deep/src"), s.folder("deep/dst")
    page_levels = [1, 10, 100, 1000, 1500, 3000, 10000]
    fd = os.open(src, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for level in range(1, 10001):
            os.mkdir("d", dir_fd=fd)
            inner = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
            if level in page_levels:
                page = os.open("p.htm", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
                os.write(page, b"<title>Level %d</title><meta name=keywords content=\"deep\">" % level)
                os.close(page)
    finally:
        os.close(fd)
    r = s.run(src, dst)
    r.expect_status(0)
    r.expect_well_formed(True)
    locations = s.locations(dst)
    expected = ["d/" * level + "p.htm" for level in page_levels]
    expect(locations == expected[:len(locations)], f"documents out of order: {[len(l) for l in locations]}")
    expect(len(locations) >= 4, f"only {len(locations)} of the pages down to level 1000 were found")
    print(f"    deep tree: {len(locations)} of {len(page_levels)} pages found "
          f"(paths beyond the system's limit cannot be opened), {r.wall:.1f} s")


def make_wide_folder(folder, count):
    for i in range(count):
        with open(os.path.join(folder, b"p%06d.htm" % i), "wb") as f:
            f.write(b"<title>Page %d</title><meta name=\"keywords\" content=\"w%d common\">"
                    b"<h1>Heading</h1><p>some text %d</p>" % (i, i, i % 97))


def case_wide_folder(s):
    """100,000 small pages in one folder; CPU time per page stays flat from 10,000 on."""
    measured = {}
    for count in (10000, 100000):
        src, dst = s.folder(f"wide{count}/src"), s.folder(f"wide{count}/dst")
        make_wide_folder(src, count)
        r = s.run(src, dst, "--threads", "1")
        r.expect_status(0)
        r.expect_log(job_log([page_log(src + b"/p%06d.htm" % i) for i in range(count)]))
        summary = s.index(dst, count_only=True)
        expect(summary["docs"] == count, f"{summary['docs']} documents of {count}")
        expect(summary["words"] == count + 5, f"{summary['words']} words")  # W#, PAGE, COMMON, HEADING, SOME, TEXT
        measured[count] = r
        shutil.rmtree(os.path.join(b(s.work), b"wide%d" % count))
    small, large = measured[10000], measured[100000]
    per_small, per_large = small.cpu / 10000, large.cpu / 100000
    ratio = per_large / per_small if per_small > 0 else 1.0
    print(f"    wide folder: 10,000 pages {small.cpu:.2f} s CPU ({small.wall:.2f} s), "
          f"100,000 pages {large.cpu:.2f} s CPU ({large.wall:.2f} s); per-page ratio {ratio:.2f}")
    # Linear gives about 1; quadratic work would give about 10.
    expect(ratio < 3.0, f"CPU time per page grows with the folder size (ratio {ratio:.2f})")


def can_drop_privileges():
    if os.geteuid() != 0:
        return True, ""
    try:
        done = subprocess.run(DROP_PRIVILEGES + ["true"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    except OSError as error:
        return False, f"setpriv is not available ({error})"
    if done.returncode != 0:
        return False, f"setpriv cannot drop privileges: {done.stderr.decode(errors='replace').strip()}"
    return True, ""


def open_for_nobody(s):
    ok, reason = can_drop_privileges()
    if not ok:
        raise Skip(f"running as root and {reason}: permissions would not apply")
    os.chmod(s.work, 0o755)  # the temporary folder is private to its owner
    return os.geteuid() == 0


def case_unreadable_entries(s):
    """Unreadable page, unlistable folder, folder that cannot be entered."""
    as_nobody = open_for_nobody(s)
    src, dst = s.folder("perm/src"), s.folder("perm/dst", mode=0o777)
    write(os.path.join(src, b"ok.htm"), "<title>Ok</title><meta name=keywords content=fine>")
    secret = os.path.join(src, b"secret.htm")
    write(secret, "<title>Secret</title><meta name=keywords content=hidden>")
    os.chmod(secret, 0)
    write(os.path.join(s.folder("perm/src/nolist"), b"inside.htm"), "<title>Inside</title><")
    write(os.path.join(s.folder("perm/src/noenter"), b"behind.htm"), "<title>Behind</title><")
    write(os.path.join(s.folder("perm/src/sub"), b"b.htm"), "<title>B</title><")
    os.chmod(os.path.join(src, b"nolist"), 0o311)
    os.chmod(os.path.join(src, b"noenter"), 0o644)
    if not as_nobody and os.access(secret, os.R_OK):
        raise Skip("permissions do not apply to this user")
    logs = s.folder("perm/logs", mode=0o777)
    r = s.run(src, dst, as_nobody=as_nobody, log_folder=logs)
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/" + p) for p in (b"ok.htm", b"secret.htm", b"sub/b.htm")]))
    index = s.index(dst)
    expect([d[1] for d in index["docs"]] == ["OK", NO_TITLE, "B"], f"titles {index['docs']}")
    expect("HIDDEN" not in index["words"], "words of an unreadable page were indexed")


def case_unwritable_destination(s):
    """Destination folder, or one index file, that the user may not write."""
    as_nobody = open_for_nobody(s)
    src = s.folder("deny/src")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=new>")
    logs = s.folder("deny/logs", mode=0o777)
    pages = [page_log(src + b"/a.htm")]

    locked = s.folder("deny/locked")
    old = s.old_index(locked)
    os.chmod(locked, 0o555)
    r = s.run(src, locked, as_nobody=as_nobody, log_folder=logs)
    r.expect_status(1)
    r.expect_log(job_log(pages, "Can't create index file!", complete=False))
    s.expect_old_index(locked, old)
    s.index(locked)

    # The documents file belongs to somebody else: neither file is replaced, so the
    # pair on disk still belongs together.
    if as_nobody:
        shared = s.folder("deny/shared", mode=0o777)
        old = s.old_index(shared)
        os.chmod(os.path.join(shared, b"indexed_words.js"), 0o666)
        r = s.run(src, shared, as_nobody=True, log_folder=logs)
        r.expect_status(1)
        r.expect_log(job_log(pages, "Can't create dictionary file!", complete=False))
        s.expect_old_index(shared, old)
        s.expect_no_temporaries(shared)

        # A sticky folder: the user may write the old file but not replace it.
        sticky = s.folder("deny/sticky", mode=0o1777)
        old = s.old_index(sticky)
        for name in old:
            os.chmod(os.path.join(sticky, b(name)), 0o666)
        r = s.run(src, sticky, as_nobody=True, log_folder=logs)
        expect(r.status in (0, 1), f"exit status {r.status}")
        if r.status == 1:
            r.expect_log(job_log(pages, "Can't create index file!", complete=False))
            s.expect_old_index(sticky, old)
        else:
            r.expect_log(job_log(pages))
        s.index(sticky)
        s.expect_no_temporaries(sticky)


def case_read_only_index_files(s):
    """Read-only index files of an earlier run are not replaced (even for root)."""
    src = s.folder("ro/src")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=new>")
    pages = [page_log(src + b"/a.htm")]

    words_ro = s.folder("ro/words")
    old = s.old_index(words_ro)
    os.chmod(os.path.join(words_ro, b"indexed_words.js"), 0o444)
    r = s.run(src, words_ro)
    r.expect_status(1)
    r.expect_log(job_log(pages, "Can't create index file!", complete=False))
    s.expect_old_index(words_ro, old)

    docs_ro = s.folder("ro/docs")
    old = s.old_index(docs_ro)
    os.chmod(os.path.join(docs_ro, b"indexed_docs.js"), 0o444)
    r = s.run(src, docs_ro)
    r.expect_status(1)
    r.expect_log(job_log(pages, "Can't create dictionary file!", complete=False))
    s.expect_old_index(docs_ro, old)

    # A link to a read-only documents file stands for that file.
    linked = s.folder("ro/linked")
    old = s.old_index(linked)
    target = os.path.join(b(s.work), b"ro/elsewhere.js")
    write(target, "var docs=[];")
    os.chmod(target, 0o444)
    os.remove(os.path.join(linked, b"indexed_docs.js"))
    os.symlink(target, os.path.join(linked, b"indexed_docs.js"))
    r = s.run(src, linked)
    r.expect_status(1)
    r.expect_log(job_log(pages, "Can't create dictionary file!", complete=False))
    s.expect_old_index(linked, old, ["indexed_words.js"])

    # A folder where the words file should be.
    blocked = s.folder("ro/blocked")
    s.folder("ro/blocked/indexed_words.js")
    r = s.run(src, blocked)
    r.expect_status(1)
    r.expect_log(job_log(pages, "Can't create index file!", complete=False))
    s.expect_no_temporaries(blocked)


def case_bad_folders(s):
    """Usage errors: exit 2 with the folder page's messages, nothing written."""
    src = s.folder("usage/src")
    write(os.path.join(src, b"a.htm"), "<title>A</title><")
    plain_file = os.path.join(b(s.work), b"usage/file")
    write(plain_file, "x")
    checks = [
        ([src, plain_file], b"Please specify correct destination folder."),
        ([src, plain_file + b"/below"], b"Please specify correct destination folder."),
        ([os.path.join(src, b"missing"), s.folder("usage/dst")], b"Please specify correct source folder."),
        ([os.path.join(src, b"a.htm"), s.folder("usage/dst")], b"Please specify correct source folder."),
        ([src, s.folder("usage/dst"), "--path", "url"], b"Supply URL prefix!"),
    ]
    for arguments, message in checks:
        command = [s.cli, "--quiet", *arguments[2:], "--", arguments[0], arguments[1]]
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        expect(done.returncode == 2, f"{shown(command)}: exit {done.returncode}")
        expect(message in done.stderr, f"{shown(command)}: stderr {shown(done.stderr)}")
    expect(not os.listdir(s.folder("usage/dst")), "a refused run wrote into the destination")


def case_destination_is_source(s):
    """Destination equal to the source, run twice: the search page written by the first
    run is no page of the site; a search page of the site's own is neither replaced nor
    skipped."""
    src = s.folder("same/src")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=alpha>")
    for run in range(2):
        r = s.run(src, src, "--content", "all")
        r.expect_status(0)
        r.expect_well_formed(True)
        locations = s.locations(src)
        expect(locations == ["a.htm"], f"documents {locations}")
        s.expect_no_temporaries(src)

    own = s.folder("same/own")
    write(os.path.join(own, b"search.html"), "<title>The site's own search</title>")
    r = s.run(own, own)
    r.expect_status(2)
    expect(b"search.html" in r.stderr, f"stderr {shown(r.stderr)}")
    expect(sorted(os.listdir(own)) == [b"search.html"], f"a refused run wrote {os.listdir(own)}")
    r = s.run(own, own, "--overwrite")
    r.expect_status(0)
    r = s.run(own, own)
    r.expect_status(0)
    expect(s.locations(own) == [], f"documents {s.locations(own)}")


def case_destination_inside_source(s):
    """Destination inside the source, run twice."""
    src = s.folder("inside/src")
    dst = os.path.join(src, b"out")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=alpha>")
    for run in range(2):
        r = s.run(src, dst, "--threads", "2")
        r.expect_status(0)
        r.expect_well_formed(True)
        locations = s.locations(dst)
        expect(locations == ["a.htm"], f"documents {locations}")
        s.expect_no_temporaries(dst)


def file_size_limit(size):
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


def case_full_destination(s):
    """A file-size limit the index exceeds: the old index stays and the line appears."""
    src = s.folder("full/src")
    # One page with many words: a large words file, a short log.
    words = " ".join("w%d" % i for i in range(30000))
    write(os.path.join(src, b"many.htm"), f'<title>Many</title><meta name="keywords" content="{words}">')
    dst = s.folder("full/words")
    old = s.old_index(dst)
    r = s.run(src, dst, preexec=file_size_limit(100 * 1024))
    r.expect_status(1)
    r.expect_log(job_log([page_log(src + b"/many.htm")], "Can't create index file!", complete=False))
    s.expect_old_index(dst, old)
    s.expect_no_temporaries(dst)

    # Many pages with long titles: a words file that fits, a documents file that does not.
    src = s.folder("full/src2")
    for i in range(60):
        write(os.path.join(src, b"p%02d.htm" % i), "<title>%s</title><" % ("t" * 4000))
    dst = s.folder("full/docs")
    old = s.old_index(dst)
    r = s.run(src, dst, preexec=file_size_limit(100 * 1024))
    r.expect_status(1)
    r.expect_log(job_log([page_log(src + b"/p%02d.htm" % i) for i in range(60)],
                         "Can't create dictionary file!", complete=False))
    # The words file fitted, but replacing it alone would pair it with the old documents.
    s.expect_old_index(dst, old)
    s.index(dst)
    s.expect_no_temporaries(dst)


def case_full_file_system(s):
    """A tmpfs that fills up while the index is written."""
    if os.geteuid() != 0 or not shutil.which("mount"):
        raise Skip("mounting a small tmpfs needs root")
    mount_point = s.folder("tmpfs")
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", mount_point],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise Skip(f"cannot mount a tmpfs here: {done.stdout.decode(errors='replace').strip()}")
    try:
        src = s.folder("full-fs/src")
        words = " ".join("w%d" % i for i in range(40000))
        write(os.path.join(src, b"many.htm"), f'<title>Many</title><meta name="keywords" content="{words}">')
        old = s.old_index(mount_point)
        r = s.run(src, mount_point)
        r.expect_status(1)
        r.expect_log(job_log([page_log(src + b"/many.htm")], "Can't create index file!", complete=False))
        s.expect_old_index(mount_point, old)
        s.expect_no_temporaries(mount_point)
    finally:
        subprocess.run(["umount", mount_point])


# Names a Linux file may have that a web site's never would.
ODD_NAMES = [b'quote".htm', b"back\\slash.htm", b"line\nfeed.htm", b"carriage\rreturn.htm",
             b"-dash.htm", b"--double.htm", b" lead blank.htm", b"trail blank.htm ",
             b"\xff\xfe latin\xe9.htm", b"tab\there.htm", b"single'quote.htm",
             b"$HOME;`x`.htm", b"\xe2\x80\xa8separator.htm"]
ODD_FOLDER = b'-dir "q\\b\n\r\xff'


def case_odd_names(s):
    """Quotes, backslashes, line breaks, dashes, blanks and non-UTF-8 bytes in names."""
    base = s.folder("names")
    source_name = b'-src "x\\y"'
    src = s.folder(b"names/" + source_name)
    for i, name in enumerate(ODD_NAMES):
        write(os.path.join(src, name), b"<title>T%d</title><meta name=keywords content=\"k%d\">" % (i, i))
    inner = s.folder(b"names/" + source_name + b"/" + ODD_FOLDER)
    write(os.path.join(inner, b"-in.htm"),
          b'<title>He said "hi" \\ C:\\dir\r\nnext \xe9</title><meta name=keywords content="inner">')
    dst = s.folder("names/dst")
    relative = [n for n in walk_order(ODD_NAMES)] + [ODD_FOLDER + b"/-in.htm"]

    # The source as a relative path that starts with a dash.
    r = s.run(source_name, os.path.abspath(dst), cwd=base)
    r.expect_status(0)
    r.expect_log(job_log([page_log(source_name + b"/" + p) for p in relative]))
    docs = s.index(dst)["docs"]
    expect([d[2] for d in docs] == [p.decode("utf-8", "replace") for p in relative],
           f"locations {[d[2] for d in docs]}")
    expect(docs[-1][1] == 'HE SAID "HI" \\ C:\\DIR  NEXT \ufffd', f"title {docs[-1][1]!r}")

    r = s.run(src, dst, "--path", "full")
    r.expect_status(0)
    docs = s.index(dst)["docs"]
    expect([d[2] for d in docs] == [(src + b"/" + p).decode("utf-8", "replace") for p in relative],
           f"full locations {[d[2] for d in docs][:3]}")

    prefix = 'http://host/a"b\\c d'
    r = s.run(src, dst, "--path", "url", "--url-prefix", prefix)
    r.expect_status(0)
    docs = s.index(dst)["docs"]
    expect([d[2] for d in docs] == ['http://host/a"b/c d/' + p.decode("utf-8", "replace") for p in relative],
           f"url locations {[d[2] for d in docs][:3]}")


def case_hostile_contents(s):
    """Binary pages, NUL bytes, empty page, 50 MB of '<', 50 MB without tags, a million
    tags, a title of 1 MB."""
    src, dst = s.folder("content/src"), s.folder("content/dst")
    rng = random.Random(6)
    write(os.path.join(src, b"binary.htm"), bytes(rng.getrandbits(8) for _ in range(1 << 20)))
    write(os.path.join(src, b"binary2.html"), bytes(rng.getrandbits(8) | 0x80 for _ in range(1 << 16)))
    write(os.path.join(src, b"nul.htm"),
          b'<title>Before</title><meta name="keywords" content="visible">\0'
          b'<title>After</title><meta name="keywords" content="hidden">')
    write(os.path.join(src, b"empty.htm"), b"")
    with open(os.path.join(src, b"lt.htm"), "wb") as f:
        chunk = b"<" * (1 << 20)
        for _ in range(50):
            f.write(chunk)
    with open(os.path.join(src, b"notags.htm"), "wb") as f:
        chunk = b"lorem ipsum dolor sit amet " * 40000
        while f.tell() < 50 * (1 << 20):
            f.write(chunk)
    write(os.path.join(src, b"tags.htm"), b"<title>Tags</title>" + b"<i>word</i>" * 1000000)
    big_title = b"title " * ((1 << 20) // 6)
    write(os.path.join(src, b"title.htm"), b"<title>" + big_title + b"</title><p>")
    names = walk_order(os.listdir(src))
    for content in ("all", "keywords"):
        r = s.run(src, dst, "--content", content, "--threads", "2")
        r.expect_status(0)
        r.expect_log(job_log([page_log(src + b"/" + n) for n in names]))
        index = s.index(dst)
        titles = {d[2]: d[1] for d in index["docs"]}
        expect(titles["empty.htm"] == NO_TITLE and titles["lt.htm"] == NO_TITLE
               and titles["notags.htm"] == NO_TITLE, "default titles")
        expect(titles["nul.htm"] == "BEFORE", f"title of the NUL page {titles['nul.htm']!r}")
        expect(titles["title.htm"] == big_title.upper().decode(), "the 1 MB title")
        expect(titles["tags.htm"] == "TAGS", "title of the tag page")
        words = index["words"]
        nul = names.index(b"nul.htm")
        expect(nul in words.get("VISIBLE", []) and "HIDDEN" not in words, "text after a NUL byte")
        if content == "all":
            expect(words.get("WORD") == [names.index(b"tags.htm")], f"WORD {words.get('WORD')}")
            expect("LOREM" not in words, "text after the last tag was indexed")
        else:
            expect(set(words) == {"VISIBLE"}, f"keywords only: {sorted(words)[:10]}")


def case_sparse_pages(s):
    """Sparse files of 4 GB and 1 TB: all zero bytes, so their text is empty; reading
    them must cost neither their size in memory nor a failed allocation."""
    src, dst = s.folder("sparse/src"), s.folder("sparse/dst")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=alpha>")
    for name, size in ((b"big.htm", 4 << 30), (b"huge.htm", 1 << 40)):
        try:
            with open(os.path.join(src, name), "wb") as f:
                f.truncate(size)
        except OSError as error:
            raise Skip(f"cannot make a sparse file of {size} bytes here: {error}")
    r = s.run(src, dst, "--threads", "2")
    r.expect_status(0)
    r.expect_log(job_log([page_log(src + b"/" + n) for n in (b"a.htm", b"big.htm", b"huge.htm")]))
    expect(r.peak_memory < (1 << 30), f"reading sparse pages took {r.peak_memory >> 20} MB")
    docs = s.index(dst)["docs"]
    expect([d[1] for d in docs] == ["A", NO_TITLE, NO_TITLE], f"titles {docs}")


def case_pattern_library_limits(s):
    """Pages on which the regular expression library gives up: partial index, a line,
    the run goes on."""
    src, dst = s.folder("regex/src"), s.folder("regex/dst")
    write(os.path.join(src, b"a.htm"), "<title>A</title><meta name=keywords content=alpha><p>one")
    write(os.path.join(src, b"lt.htm"), b"<" * (1 << 20))
    write(os.path.join(src, b"open.htm"), b"<title>x</title>" + b"< a" * 300000 + b"<b>end<i>")
    write(os.path.join(src, b"tags.htm"), b"<title>Tags</title>" + b"<i>word</i>" * 100000)
    write(os.path.join(src, b"z.htm"), "<title>Z</title><meta name=keywords content=zulu><p>")
    names = walk_order(os.listdir(src))
    r = s.run(src, dst, "--content", "all", "--pattern-library")
    r.expect_status(0)
    r.expect_well_formed(True)
    for line in r.lines():
        expect(line.startswith((b"Parsing ", b"Done!", b"Page too complex", b"Creating", b"Indexing")),
               f"unexpected line {shown(line)}")
    index = s.index(dst)
    expect(len(index["docs"]) == len(names), "pages missing")
    expect(index["words"].get("ZULU") == [names.index(b"z.htm")], "the page after a hard one")
    expect(index["words"].get("WORD") == [names.index(b"tags.htm")], f"WORD {index['words'].get('WORD')}")


def make_stop_tree(folder, pages, words_per_page=20):
    """Pages in 20 folders, each with words of its own, so that ranking and writing take
    a share of the run too."""
    for i in range(pages):
        sub = os.path.join(folder, b"f%02d" % (i % 20))
        os.makedirs(sub, exist_ok=True)
        own = b" ".join(b"u%dx%d" % (i, k) for k in range(words_per_page))
        with open(os.path.join(sub, b"p%05d.htm" % i), "wb") as f:
            f.write(b"<title>Page %d</title><meta name=\"keywords\" content=\"k%d common\">" % (i, i)
                    + b"<h1>word%d</h1><p>" % i + own + b" text and more text %d " % i * 20 + b"<p>")


def stopped_run(s, src, dst, delay, signals):
    """Starts a run, sends signals after delay seconds, returns (status, log)."""
    log = os.path.join(b(s.work), b"stop-log")
    if os.path.exists(log):
        os.unlink(log)
    command = [s.cli, "--quiet", "--threads", "2", "--log", log, "--", src, dst]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    time.sleep(delay)
    for sig in signals:
        try:
            process.send_signal(sig)
        except ProcessLookupError:
            pass
        time.sleep(0.01)
    try:
        _, stderr = process.communicate(timeout=HANG_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("a stopped run did not end")
    if not os.path.exists(log):
        return process.returncode, b"", stderr
    with open(log, "rb") as f:
        return process.returncode, f.read(), stderr


def case_stop_signals(s):
    """SIGINT and SIGTERM at many points of a run: the right final line, and the index
    either the old one untouched or a whole new one."""
    PAGES = 12000
    src, dst = s.folder("stop/src"), s.folder("stop/dst")
    make_stop_tree(src, PAGES)
    started = time.monotonic()
    status, full_log, stderr = stopped_run(s, src, dst, 0, [])
    expect(status == 0, f"the uninterrupted run failed: {shown(stderr)}")
    full_time = time.monotonic() - started
    expected_docs = s.index(dst, count_only=True)["docs"]
    expect(expected_docs == PAGES, f"{expected_docs} documents")
    outcomes = {"before start": 0, "interrupted": 0, "complete": 0}
    steps = 16
    for step in range(steps + 1):
        delay = full_time * step / steps
        old = s.old_index(dst)
        sig = signal.SIGTERM if step % 3 == 2 else signal.SIGINT
        status, log, stderr = stopped_run(s, src, dst, delay, [sig])
        result = Result(status, log, b"", stderr, 0, 0)
        if status == -sig:
            # Signals end the program the usual way until it has set up its handling.
            expect(b"Creating index" not in log, "the program died after its walk")
            s.expect_old_index(dst, old)
            outcomes["before start"] += 1
        elif status == 1:
            result.expect_well_formed(False)
            s.expect_old_index(dst, old)
            outcomes["interrupted"] += 1
        else:
            expect(status == 0, f"exit status {status} after a stop at {delay:.2f} s: {shown(stderr)}")
            result.expect_well_formed(True)
            docs = s.index(dst, count_only=True)["docs"]
            expect(docs == result.lines().count(b"Done!"), "documents and pages of the log differ")
            outcomes["complete"] += 1
        s.index(dst, count_only=True)
        s.expect_no_temporaries(dst)
    print(f"    stops: {outcomes['interrupted']} interrupted, {outcomes['complete']} complete, "
          f"{outcomes['before start']} before the program was ready "
          f"(full run {full_time:.2f} s)")
    expect(outcomes["interrupted"] > 0, "no stop took effect")

    # A second Ctrl-C ends the program at once; whatever is on disk must still load.
    for step in range(1, 6):
        old = s.old_index(dst)
        status, log, stderr = stopped_run(s, src, dst, full_time * step / 6,
                                          [signal.SIGINT, signal.SIGINT])
        expect(status in (0, 1, 130), f"exit status {status} after two Ctrl-C")
        s.index(dst, count_only=True)
        left = [n for n in os.listdir(dst) if b".tmp" in n]
        for name in left:
            os.unlink(os.path.join(dst, name))


def case_threads_agree(s):
    """Two threads give the same files as one (and exercise the pipeline under TSan)."""
    src = s.folder("threads/src")
    make_stop_tree(src, 400)
    write(os.path.join(src, b"f00", b"unreadable.htm"), b"")
    os.chmod(os.path.join(src, b"f00", b"unreadable.htm"), 0)
    outputs = []
    for threads in ("1", "2", "3"):
        dst = s.folder(f"threads/dst{threads}")
        r = s.run(src, dst, "--threads", threads, "--content", "headers")
        r.expect_status(0)
        r.expect_well_formed(True)
        files = []
        for name in ("indexed_words.js", "indexed_docs.js"):
            with open(os.path.join(dst, b(name)), "rb") as f:
                files.append(f.read())
        outputs.append((r.log, files))
        s.index(dst, count_only=True)
    expect(outputs[0] == outputs[1] == outputs[2], "the thread count changed the log or the index")


GROUPS = {
    "special": [case_special_entries, case_unreadable_by_system],
    "links": [case_link_loop, case_folder_reached_twice],
    "deep": [case_deep_tree],
    "wide": [case_wide_folder],
    "permissions": [case_unreadable_entries, case_unwritable_destination],
    "names": [case_odd_names],
    "contents": [case_hostile_contents, case_sparse_pages, case_pattern_library_limits],
    "destination": [case_read_only_index_files, case_bad_folders, case_destination_is_source,
                    case_destination_inside_source, case_full_destination, case_full_file_system],
    "stops": [case_stop_signals, case_threads_agree],
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True, help="the vantrelindexer-cli program")
    parser.add_argument("--group", action="append", choices=sorted(GROUPS), help="groups to run (default all)")
    parser.add_argument("--case", action="append", help="run only cases whose name holds this text")
    parser.add_argument("--keep", action="store_true", help="keep the temporary trees")
    options = parser.parse_args()
    if not shutil.which("node"):
        print("SKIP: node is needed to load the index files")
        return SKIPPED

    cases = [c for g in (options.group or sorted(GROUPS)) for c in GROUPS[g]]
    if options.case:
        cases = [c for c in cases if any(t in c.__name__ for t in options.case)]
    failed, skipped = [], []
    for case in cases:
        work = tempfile.mkdtemp(prefix="vantrel-hostile-")
        suite = Suite(options.cli, work)
        started = time.monotonic()
        try:
            case(suite)
            print(f"PASS {case.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
        except Skip as reason:
            print(f"SKIP {case.__name__}: {reason}", flush=True)
            skipped.append(case.__name__)
        except Failure as failure:
            print(f"FAIL {case.__name__}: {failure}", flush=True)
            failed.append(case.__name__)
        finally:
            if options.keep:
                print(f"     trees kept in {work}")
            else:
                subprocess.run(["chmod", "-R", "u+rwx", work], stderr=subprocess.DEVNULL)
                subprocess.run(["rm", "-rf", "--one-file-system", work])
    print(f"{len(cases) - len(failed) - len(skipped)} passed, {len(failed)} failed, {len(skipped)} skipped")
    if failed:
        return 1
    return SKIPPED if skipped and len(skipped) == len(cases) else 0


if __name__ == "__main__":
    sys.exit(main())
