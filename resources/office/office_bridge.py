# The office bridge: keeps one headless office suite running for a whole scan
# and converts documents with it, one at a time, on request.
#
#   python3 -c SCRIPT SOFFICE PROFILE_URL PIPE_NAME SUITE_LOG [SUITE_PID]
#
# SUITE_PID: the suite, already started by the shell this program replaced
# (a child of ours, its output going to SUITE_LOG), so its start does not wait
# for ours; without it the bridge starts the suite itself.
#
# Standard input takes one request a line, fields separated by tabs:
#   convert <TAB> FILTER <TAB> OPTIONS <TAB> EXTENSION <TAB> DOCUMENT <TAB> OUT_FOLDER
# Standard output gives one reply each: a line "STATUS LENGTH" followed by
# LENGTH bytes of what the suite wrote to its own output meanwhile (the CSV
# export names there the file of every sheet). STATUS is "done" when the
# suite loaded the document and tried to save it (the output folder says what
# came of it), "failed" when it could not load it. Before the first request
# the bridge writes "ready 0", or "unavailable 0" and ends when the suite's
# Python interface is missing; when the suite dies it writes "crashed 0" and
# ends. The first request may come before "ready": it waits in the input. At
# the end of standard input the suite is closed. The program that started it
# kills it, with the suite, at a time-out.
#
# Only what it needs is imported up front: every module costs the first
# document a little.
import os
import sys
import time

LOG_LIMIT = 4 << 20


def reply(status, text=b""):
    out = sys.stdout.buffer
    out.write(b"%s %d\n" % (status.encode(), len(text)))
    out.write(text)
    out.flush()


class Started:
    """The suite our shell started, as far as we need it: a child of ours."""

    def __init__(self, pid):
        self.pid, self.code = pid, None

    def poll(self):
        if self.code is None:
            try:
                done, status = os.waitpid(self.pid, os.WNOHANG)
            except ChildProcessError:
                done, status = self.pid, 0
            if done:
                self.code = status
        return self.code

    def kill(self):
        try:
            os.kill(self.pid, 9)  # SIGKILL
        except ProcessLookupError:
            pass

    def wait(self, timeout=None):
        end = time.monotonic() + (timeout if timeout is not None else 1e9)
        while self.poll() is None:
            if time.monotonic() > end:
                raise TimeoutError("soffice")
            time.sleep(0.01)
        return self.code


def start_suite(soffice, profile_url, pipe_name, log_path):
    import subprocess
    with open(log_path, "wb") as log:
        return subprocess.Popen(
            [soffice, "-env:UserInstallation=" + profile_url, "--headless", "--invisible",
             "--nologo", "--norestore", "--nodefault", "--nolockcheck",
             "--accept=pipe,name=%s;urp;" % pipe_name],
            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)


def alive(suite, desktop):
    """Whether the suite still runs and answers."""
    if suite.poll() is not None:
        return False
    try:
        desktop.getFrames()
        return True
    except Exception:
        return False


def sheet_lines(doc, out_folder, base):
    """The export's file of every sheet, in sheet order, as the suite's own
    conversion command names them."""
    try:
        names = doc.Sheets.ElementNames
    except Exception:
        return b""
    lines = b""
    for name in names:
        path = os.path.join(out_folder, "%s-%s.csv" % (base, name))
        if os.path.exists(path):
            lines += ("Writing sheet %s -> %s\n" % (name, path)).encode("utf-8")
    return lines


def main():
    soffice, profile_url, pipe_name, log_path = sys.argv[1:5]
    started = Started(int(sys.argv[5])) if len(sys.argv) > 5 else None
    sys.path.append(os.path.dirname(os.path.realpath(soffice)))
    # Our own diagnostics never mix with the replies.
    os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
    if not any(os.path.isfile(os.path.join(folder or ".", "uno.py")) for folder in sys.path):
        if started:
            started.kill()
        reply("unavailable")
        return 0
    # The suite first: its start takes seconds, in which the interface loads.
    suite = started or start_suite(soffice, profile_url, pipe_name, log_path)
    try:
        import uno
        from com.sun.star.beans import PropertyValue
    except Exception:
        suite.kill()
        suite.wait()
        reply("unavailable")
        return 0

    def props(**values):
        result = []
        for name, value in values.items():
            p = PropertyValue()
            p.Name, p.Value = name, value
            result.append(p)
        return tuple(result)

    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    # A try to connect costs far more than a look for the pipe: the suite's
    # start, which takes all the processor it can get, goes first.
    # (Where neither folder takes it, it is elsewhere: connecting tells.)
    pipes = ["%s/OSL_PIPE_%d_%s" % (folder, os.geteuid(), pipe_name)
             for folder in ("/tmp", "/var/tmp") if os.access(folder, os.W_OK)]
    context = None
    first = True
    while context is None:
        if suite.poll() is not None:
            reply("crashed")
            return 1
        # The first try goes at once: it loads what connecting needs.
        if not first and pipes and not any(os.path.exists(p) for p in pipes):
            time.sleep(0.002)
            continue
        try:
            context = resolver.resolve(
                "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe_name)
        except Exception:
            first = False
            time.sleep(0.005)
    desktop = context.ServiceManager.createInstanceWithContext(
        "com.sun.star.frame.Desktop", context)
    reply("ready")

    seen = 0
    for line in sys.stdin.buffer:
        fields = line.rstrip(b"\n").decode("utf-8").split("\t")
        if len(fields) != 6 or fields[0] != "convert":
            reply("failed")
            continue
        _, filter_name, options, extension, document, out_folder = fields
        status = "done"
        sheets = b""
        try:
            doc = desktop.loadComponentFromURL(
                uno.systemPathToFileUrl(document), "_blank", 0,
                props(Hidden=True, ReadOnly=True, MacroExecutionMode=0, UpdateDocMode=0))
            if doc is None:
                status = "failed"
            else:
                base = os.path.splitext(os.path.basename(document))[0]
                target = os.path.join(out_folder, base + "." + extension)
                try:
                    doc.storeToURL(uno.systemPathToFileUrl(target),
                                   props(FilterName=filter_name, FilterOptions=options))
                    if extension == "csv":
                        sheets = sheet_lines(doc, out_folder, base)
                except Exception:
                    if not alive(suite, desktop):
                        raise
                finally:
                    try:
                        doc.close(True)
                    except Exception:
                        doc.dispose()
        except Exception:
            if not alive(suite, desktop):
                reply("crashed")
                return 1
            status = "failed"
        with open(log_path, "rb") as written:
            written.seek(seen)
            text = written.read(LOG_LIMIT)
            written.seek(0, 2)
            seen = written.tell()
        reply(status, text + sheets)
    # The end of the scan: the suite closes and removes what it made.
    try:
        desktop.terminate()
    except Exception:
        pass
    try:
        suite.wait(10)
    except Exception:
        suite.kill()
    return 0


sys.exit(main())
