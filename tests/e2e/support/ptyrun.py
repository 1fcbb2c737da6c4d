#!/usr/bin/env python3
"""Runs a program on a new pseudo-terminal the way a user at that terminal runs it.

usage: ptyrun.py fg|bg TIMEOUT [WAIT SEND]... -- PROGRAM [ARG]...

fg: the program is the terminal's foreground process group, as a shell starts a command.
bg: the program runs in a background process group (as with '&') until the terminal shows
    'bring the package to the foreground' or the program stops (a shell would then say
    'Stopped'; this says '[ptyrun: the job stopped]'); then it is made the foreground and
    continued, as 'fg' does.
Each SEND (\\x03 for Ctrl-C) is typed once the terminal has shown its WAIT after the previous
one. Prints everything the terminal showed, then a last line 'status N' (128 + N for a signal)
(on a line of its own) or 'hung' when the program had not ended after TIMEOUT seconds (then it is killed).
"""
import os
import pty
import select
import signal
import sys
import time


def show(seen, last):
    text = seen.decode('utf-8', 'replace')
    if text and not text.endswith('\n'):
        text += '\n'
    sys.stdout.write(text + last + '\n')


def background_job(argv, go_r):
    """In the terminal's session leader: runs argv as a background job, brings it to the
    foreground when told through go_r or when it stops, and exits with its status."""
    job = os.fork()
    if job == 0:
        os.setpgid(0, 0)
        os.execvp(argv[0], argv)
    try:
        os.setpgid(job, job)
    except PermissionError:
        pass  # the job has already exec'd, after putting itself in its own group
    brought = False
    listening = True
    while True:
        told = False
        if not brought:
            ready, _, _ = select.select([go_r] if listening else [], [], [], 0.05)
            if ready:
                told = bool(os.read(go_r, 1))
                listening = told
        done, st = os.waitpid(job, (os.WNOHANG | os.WUNTRACED) if not brought else 0)
        stopped = done == job and os.WIFSTOPPED(st)
        if stopped and not brought:
            os.write(1, b'\n[ptyrun: the job stopped]\n')
        if (told or stopped) and not brought:
            os.tcsetpgrp(0, job)
            os.kill(-job, signal.SIGCONT)
            brought = True
        if done == job and not stopped:
            os._exit(os.WEXITSTATUS(st) if os.WIFEXITED(st) else 128 + os.WTERMSIG(st))


def main():
    mode, timeout = sys.argv[1], float(sys.argv[2])
    rest = sys.argv[3:]
    sep = rest.index('--')
    steps = [(rest[i].encode(), rest[i + 1].encode().decode('unicode_escape').encode('latin-1'))
             for i in range(0, sep, 2)]
    argv = rest[sep + 1:]
    go_r, go_w = os.pipe()
    pid, master = pty.fork()
    if pid == 0:
        os.close(go_w)
        if mode == 'fg':
            os.execvp(argv[0], argv)
        background_job(argv, go_r)
    os.close(go_r)
    seen = b''
    at = 0
    brought = False
    deadline = time.time() + timeout
    while time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b''
            if not data:
                break
            seen += data
        while steps and seen.find(steps[0][0], at) >= 0:
            at = seen.find(steps[0][0], at) + len(steps[0][0])
            os.write(master, steps.pop(0)[1])
        if mode == 'bg' and not brought and b'bring the package to the foreground' in seen:
            os.write(go_w, b'x')
            brought = True
    else:
        show(seen, 'hung')
        os.kill(pid, signal.SIGKILL)
        return
    _, st = os.waitpid(pid, 0)
    code = os.WEXITSTATUS(st) if os.WIFEXITED(st) else 128 + os.WTERMSIG(st)
    show(seen, 'status %d' % code)


main()
