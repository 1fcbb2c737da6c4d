#!/usr/bin/python3
"""Runs a program on a fresh pseudo-terminal, as an administrator's terminal would, and says how
it ended.

usage: ptyrun.py [--background] [--timeout S] [--transcript FILE]
                 [--reply WAITFOR SEND]... [--kill WAITFOR]... -- PROGRAM [ARG]...

The program is the terminal's foreground job (its session's leader, as `exec PROGRAM` in a login
shell), or with --background a job in a process group of its own that the terminal does not
have in the foreground (as `PROGRAM &`). Once the terminal has shown WAITFOR (searched after
the place where the previous reply's WAITFOR was found), SEND is typed (backslash escapes as in
Python: "yes\\n", "\\x03" is Ctrl-C). --kill sends SIGKILL to the process the terminal names as
"process N" from WAITFOR on, and to its process group. Prints "status N" (128 + the signal
number when it was killed), or "hung" when it has not ended after the timeout (10 s);
everything the terminal showed goes to the transcript file.
"""
import os
import pty
import re
import select
import signal
import sys
import time


def main(argv):
    background = False
    timeout = 10.0
    transcript_path = None
    steps = []  # (waitfor, action, text)
    i = 1
    while i < len(argv) and argv[i] != "--":
        opt = argv[i]
        if opt == "--background":
            background = True
            i += 1
        elif opt == "--timeout":
            timeout = float(argv[i + 1])
            i += 2
        elif opt == "--transcript":
            transcript_path = argv[i + 1]
            i += 2
        elif opt == "--reply":
            steps.append((argv[i + 1], "send", argv[i + 2].encode().decode("unicode_escape")))
            i += 3
        elif opt == "--kill":
            steps.append((argv[i + 1], "kill", None))
            i += 2
        else:
            sys.exit("ptyrun.py: unknown option " + opt)
    command = argv[i + 1:]
    if not command:
        sys.exit(__doc__)

    pid, master = pty.fork()
    if pid == 0:
        try:
            if not background:
                os.execvp(command[0], command)
            job = os.fork()
            if job == 0:
                os.setpgid(0, 0)
                os.execvp(command[0], command)
            os.setpgid(job, job)
            _, status = os.waitpid(job, 0)
            os._exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
        except OSError as e:
            os.write(2, ("ptyrun.py: %s: %s\n" % (command[0], e)).encode())
            os._exit(127)

    shown = b""
    at = 0
    deadline = time.monotonic() + timeout
    result = "hung"
    open_master = True
    ended = None  # the wait status, once the program has ended
    while True:
        if ended is None:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                ended = status
        if ended is not None and not open_master:
            result = "status %d" % (os.WEXITSTATUS(ended) if os.WIFEXITED(ended) else 128 + os.WTERMSIG(ended))
            break
        left = deadline - time.monotonic()
        if left <= 0:
            break
        if open_master:
            ready, _, _ = select.select([master], [], [], min(left, 0.05))
            if ready:
                try:
                    data = os.read(master, 4096)
                except OSError:
                    data = b""
                if not data:
                    open_master = False
                shown += data
        else:
            time.sleep(0.02)
        while steps:
            waitfor, action, text = steps[0]
            found = shown.find(waitfor.encode(), at)
            named = re.search(rb"process (\d+)", shown[found:]) if found >= 0 else None
            if found < 0 or (action == "kill" and not named):
                break
            at = found + len(waitfor)
            steps.pop(0)
            if action == "send":
                time.sleep(0.1)  # the program reads only once it has asked
                os.write(master, text.encode())
            else:
                # The named process and its process group: a stopped job is ended whole.
                victim = int(named.group(1))
                try:
                    os.killpg(os.getpgid(victim), signal.SIGKILL)
                except OSError:
                    os.kill(victim, signal.SIGKILL)
    if result == "hung":
        # Whatever is left (a stopped job among it) goes with the pseudo-terminal's session.
        for sig in (signal.SIGCONT, signal.SIGKILL):
            try:
                os.killpg(pid, sig)
            except OSError:
                pass
    if transcript_path:
        with open(transcript_path, "wb") as f:
            f.write(shown)
    print(result)


if __name__ == "__main__":
    main(sys.argv)
