#!/usr/bin/env python3
"""The command line as a process: exit statuses and messages, the log, signals and
resource limits, each case in a temporary folder of its own. What the options parse to
and what the job does with them are tested in-process (cli_tests, engine_tests).

    hostile_cli.py --cli PROGRAM [CASE...]
"""

import fcntl
import os
import platform
import re
import resource
import select
import signal
import subprocess
import struct
import sys
import tempfile
import termios
import time

CLI = ""
PAGE = b'<title>A</title><meta name="keywords" content="alpha">'
OLD = {"indexed_words.js": b'var index=[["OLD",0]\n];', "indexed_docs.js": b'var docs=[[0,"OLD","o.htm",""]];'}


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


def run(*args, preexec=None):
    done = subprocess.run([CLI, *args], preexec_fn=preexec, timeout=600,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode, done.stdout, done.stderr


def job_log(*pages, failure=None):
    lines = b"".join(b"Parsing %s...\nDone!\n" % os.fsencode(page) for page in pages) + b"Creating index ...\n"
    return lines + (failure + b"\nIndexing interrupted!\n" if failure else b"Indexing complete!\n")


def large_site(root):
    """3000 pages in 20 folders below root/site; the site's folder."""
    for i in range(3000):
        write(f"{root}/site/f{i % 20:02}/p{i:05}.htm", b"<title>Page</title><p>" + b"text %d " % i * 100)
    return f"{root}/site"


def pump(process, seen, enough, seconds):
    """Adds what the descriptors of seen give to their text until enough(), seconds have
    passed, or the process has ended and nothing more is waiting."""
    end = time.monotonic() + seconds
    while not enough() and time.monotonic() < end:
        got = 0
        for fd in select.select(list(seen), [], [], 0.05)[0]:
            chunk = os.read(fd, 65536)
            seen[fd], got = seen[fd] + chunk, got + len(chunk)
        if not got and process.poll() is not None:
            return


def usage(root):
    """What a mistake in the folders, the ignore file or the destination's files ends with:
    its status and message (never a raw control byte), and nothing written."""
    site, out, plain, bad = write(f"{root}/site/a.htm"), f"{root}/out", f"{root}/file", write(f"{root}/bad/a.htm")
    write(plain), os.mkdir(out), write(f"{bad}/.vantrelignore", b"[abc\n")
    foreign, blocked = write(f"{root}/foreign/search.html", b"<title>Our own</title>"), f"{root}/blocked"
    write(f"{root}/theirs/indexed_text/x.js", b"the site's own"), os.makedirs(f"{blocked}/indexed_words.js")
    destination, source = b"Please specify correct destination folder.", b"Please specify correct source folder."
    for args, status, messages in [
            (["", ""], 2, destination), ([site, plain], 2, destination), ([site, plain + "/below"], 2, destination),
            (["", out], 2, source), ([f"{root}/missing", f"{root}/new/out"], 2, source),
            ([site, out, "--path", "url"], 2, b"Supply URL prefix!"),
            ([bad, out], 2, b'Nothing was indexed: %s/.vantrelignore, line 1: a "[" has no "]".\n' % os.fsencode(bad)),
            ([site, foreign], 2, f"{foreign}/search.html was not written by VantrelIndexer".encode()),
            (["--overwrite", site, f"{root}/theirs"], 2, b"indexed_text: VantrelIndexer did not make it"),
            ([site, f"{root}/logged", "--log", "/dev/full"], 1, b"/dev/full"),
            (["--quiet", site, blocked], 1, (f"cannot write {blocked}/indexed_words.js: Is a directory".encode(),
                                            b"Index not written")),
            ([site, f"{root}/made/for/us", "--quiet"], 0, b""), ([site, f"{root}/plain", "--plain"], 0, b"--plain"),
            (["--overwrite", site, foreign], 0, b"")]:
        code, stdout, err = run(*args)
        shown = all(m in err for m in (messages if isinstance(messages, tuple) else (messages,)))
        raw = re.search(rb"[\x00-\x09\x0b-\x1f\x7f]|\xe2\x80\xae", err)
        assert code == status and shown and not raw, f"{args}: exit {code}, stderr {err!r}"
        assert "--quiet" not in args or stdout == b"", f"{args}: {stdout!r}"
    assert os.listdir(out) == [] and not os.path.exists(f"{root}/new"), "a refused run wrote"
    assert read(f"{root}/made/for/us/indexed_docs.js").startswith(b'var docs=[[0,"A",'), "no index in a new folder"


def log_lines(root):
    """Every line in the log and on standard output, control bytes as \\xHH, and the summary
    of what was left out or skipped; the index the same in another process, whose word
    table has another hash key."""
    site = write(f"{root}/site/a\nb\x1b.htm")
    write(f"{site}/z.htm"), write(f"{site}/n.htm", b'<meta name="robots" content="noindex">')
    code, out, _ = run("--verbose", "--log", f"{root}/log", site, f"{root}/out")
    expected = job_log(f"{site}/a\\x0Ab\\x1B.htm", f"{site}/z.htm")
    assert code == 0 and read(f"{root}/log") == expected, read(f"{root}/log")
    summary = re.fullmatch(rb"Indexing complete: 2 pages, \d+ words in [\d.]+ s\.\nSearch page: .*/out/search.html\n"
                           rb"Left out: 1 page marked noindex\.\n", out[len(expected):])
    assert out.startswith(expected) and summary, f"--verbose: {out!r}"
    os.symlink(f"{root}/elsewhere", f"{site}/elsewhere")
    write(f"{root}/elsewhere/o.htm")
    code, out, _ = run("--stay-inside", site, f"{root}/again")
    assert code == 0 and b"1 page or folder outside the source folder was skipped (links" in out, out
    assert all(read(f"{root}/out/{name}") == read(f"{root}/again/{name}") for name in OLD), "the index changed"


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


def writes_pipe(process, theirs, ours):
    """Whether the file descriptor theirs of process is the pipe whose end ours is."""
    try:
        return os.stat(f"/proc/{process.pid}/fd/{theirs}").st_ino == os.fstat(ours).st_ino
    except OSError:
        return False


def held_on_pipe(process, fd, seconds=120):
    """Waits until a thread of process waits to write into the pipe whose reading end is
    fd: under load the program may not have filled it yet when the test stops reading."""
    room = fcntl.fcntl(fd, fcntl.F_GETPIPE_SZ) - 4096
    end = time.monotonic() + seconds
    while process.poll() is None and time.monotonic() < end:
        waits, calls = [], []
        for task in os.listdir(f"/proc/{process.pid}/task"):
            try:
                waits.append(read(f"/proc/{process.pid}/task/{task}/wchan"))
                calls.append(read(f"/proc/{process.pid}/task/{task}/syscall").split()[:2])
            except OSError:
                pass
        if any(b"pipe_write" in wait for wait in waits):
            return
        # Where the wait channels read 0 (in a container), a thread asleep in write(2) or
        # writev(2) on the pipe says so on x86-64 (a running thread reads "running").
        calls_read = platform.machine() == "x86_64" and any(calls)
        if calls_read and any(len(call) == 2 and call[0] in (b"1", b"20")
                              and writes_pipe(process, int(call[1], 16), fd) for call in calls):
            return
        held = struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]
        if not calls_read and not any(wait.strip(b"0") for wait in waits) and held >= room:
            return time.sleep(1)  # nothing tells where threads wait: a nearly full pipe will do
        time.sleep(0.02)


def signals(root):
    """A Ctrl-C waiting when the program starts, Ctrl-C and SIGTERM while the job is held on
    a full log pipe, and a second Ctrl-C: the old index stays whole."""
    site = large_site(root)

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
        log = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # the program may never open it
        seen = {log: b""}
        read_log = lambda enough: pump(process, seen, lambda: enough(seen[log]), 600)
        read_log(lambda text: text.count(b"Done!") >= 10)
        held_on_pipe(process, log)
        assert process.poll() is None, f"{sent}: exit {process.returncode} before the stop"
        for number, sig in enumerate(sent):  # the program waits on the full pipe by now
            process.send_signal(sig)
            if number + 1 < len(sent):
                assert process.stderr.readline().startswith(b"Stopping..."), "no word of the stop"
        if status != 130:
            read_log(lambda text: False)
        os.close(log)
        code = process.wait(timeout=600)
        assert code == status and (status == 130 or seen[log].endswith(b"index ...\nIndexing interrupted!\n")), sent
        assert old_index(f"{root}/out", True), f"{sent}: {os.listdir(f'{root}/out')}"


def watching(root):
    """--watch: a burst of saves gives one run, an edit inside the destination none, and a
    Ctrl-C during a run (held on a full log pipe) ends the program with the last good
    index kept whole."""
    site, out, fifo = large_site(root), f"{root}/site/out", f"{root}/log"
    os.mkfifo(fifo)
    process = subprocess.Popen([CLI, "--watch", "--threads", "1", "--log", fifo, site, out],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    log = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    seen = {log: b"", process.stdout.fileno(): b""}
    logged, printed = (lambda: seen[log]), (lambda: seen[process.stdout.fileno()])
    wait_for = lambda enough, seconds=120: pump(process, seen, lambda: enough(logged()), seconds)
    runs_ended = lambda: logged().count(b"Indexing complete!")

    try:
        wait_for(lambda text: b"Watching " in printed())
        assert b"Watching " in printed(), printed()
        for i in range(5):
            write(f"{site}/burst/b{i}.htm", b"<title>Burst</title><p>burstword%d</p>" % i)
        wait_for(lambda text: text.count(b"Indexing complete!") == 2, 60)
        wait_for(lambda text: False, 2)  # no second run for the same burst
        watch_lines = printed().split(b"Ctrl-C ends.\n", 1)[1].splitlines()
        assert runs_ended() == 2 and len(watch_lines) == 1 and b": 3005 pages (5 read)" in watch_lines[0], (runs_ended(), printed())
        write(f"{out}/notes.txt", b"written inside the destination")
        wait_for(lambda text: False, 2)
        assert runs_ended() == 2 and len(printed().split(b"Ctrl-C ends.\n", 1)[1].splitlines()) == 1, printed()
        kept = {name: read(f"{out}/{name}") for name in ("indexed_words.js", "indexed_docs.js", "indexed_pages.js")}
        for i in range(0, 3000, 2):
            write(f"{site}/f{i % 20:02}/p{i:05}.htm", b"<title>Changed</title><p>changed %d</p>" % i)
        wait_for(lambda text: b"Parsing" in text.rsplit(b"Indexing complete!", 1)[-1], 60)
        assert process.poll() is None and runs_ended() == 2, "the run did not start"
        held_on_pipe(process, log)  # the run waits mid-way
        process.send_signal(signal.SIGINT)
        wait_for(lambda text: False, 120)
        code = process.wait(timeout=120)
        assert code == 1 and logged().endswith(b"Indexing interrupted!\n"), (code, logged()[-200:])
        assert b"indexing interrupted" in printed(), printed()
        assert {name: read(f"{out}/{name}") for name in kept} == kept, "the last good index was not kept"
        assert not [name for name in os.listdir(out) if ".vantrel-" in name], os.listdir(out)
    finally:
        os.close(log)
        if process.poll() is None:
            process.kill()
            process.wait()


def main():
    global CLI
    if len(sys.argv) < 3 or sys.argv[1] != "--cli":
        sys.exit(__doc__)
    CLI, failed = os.path.abspath(sys.argv[2]), 0
    for case in [usage, log_lines, file_size_limit, sparse_pages, signals, watching]:
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
