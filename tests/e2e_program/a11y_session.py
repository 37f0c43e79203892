"""The real program driven over AT-SPI, as a screen reader or a GUI test robot drives it, against
qm7410-sim on a pseudo-terminal. Run by a11y_session.sh inside Xvfb and a private D-Bus session.

Activates buttons through their accessibility actions while poll cycles run and then checks on the
simulator's frame log that no command cut into a cycle; checks that the names assistive technology
reads follow what the window shows; toggles a baud rate radio button through its action.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

SIM, MONITOR = sys.argv[1], sys.argv[2]
WORK = tempfile.mkdtemp(prefix="qm-a11y-")
SIM_LOG = os.path.join(WORK, "sim.log")
MAIN_TITLE = "QM7410智能电力监测仪-------Korvath"
ID_TITLE = "VM7410智能电力监测仪------Velmora(1.2.03版)"
processes = []


class Failure(Exception):
    pass


def wait_for(what, condition, limit=120.0):
    """Polls `condition` until it gives a true value; fails after `limit` seconds (generous: CI shares
    two cores with other work, and a passing run never waits that long)."""
    end = time.monotonic() + limit
    while True:
        try:
            value = condition()
        except Exception:  # an object that went away while it was looked at: look again
            value = None
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"gave up after {limit:.0f} s waiting for {what}")
        time.sleep(0.05)


# ---- The simulator's frame log ----

REQUEST = re.compile(r"^\[\s*([\d.]+)\] <- ((?:[0-9A-F]{2} ?)+)\s+\((\d+),")


def requests():
    """Every request the simulator received, oldest first: (time s, bytes, line speed)."""
    out = []
    with open(SIM_LOG, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = REQUEST.match(line)
            if m:
                out.append((float(m.group(1)), bytes.fromhex(m.group(2)), int(m.group(3))))
    return out


def is_read(frame, reg, count):
    return len(frame) == 8 and frame[1] == 3 and frame[2:4] == reg.to_bytes(2, "big") \
        and frame[4:6] == count.to_bytes(2, "big")


def is_write(frame, reg, value=None):
    return len(frame) == 8 and frame[1] == 6 and frame[2:4] == reg.to_bytes(2, "big") \
        and (value is None or frame[4:6] == value.to_bytes(2, "big"))


def describe(frame):
    return " ".join(f"{b:02X}" for b in frame)


def wait_request(what, match, after, limit=30.0):
    """Waits for a request matching `match` beyond the first `after` requests; its index."""
    def found():
        reqs = requests()
        for i in range(after, len(reqs)):
            if match(reqs[i][1]):
                return i + 1
        return None
    return wait_for(what, found, limit) - 1


# ---- The accessibility tree ----

def app_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def window(app, name):
    """The shown top-level window of the program called `name`."""
    for i in range(app.childCount):
        w = app.getChildAtIndex(i)
        if w is not None and w.name == name and showing(w):
            return w
    return None


def control(win, control_id):
    """The control of `win` whose id (the accessible description) is `control_id`."""
    for i in range(win.childCount):
        c = win.getChildAtIndex(i)
        if c is not None and c.description == str(control_id):
            return c
    raise Failure(f"no control {control_id} in {win.name!r}")


def act(acc, action):
    a = acc.queryAction()
    names = [a.getName(i) for i in range(a.nActions)]
    if action not in names:
        raise Failure(f"{acc.name!r} offers {names}, not {action}")
    a.doAction(names.index(action))


def checked(acc):
    return acc.getState().contains(pyatspi.STATE_CHECKED)


def text_of(acc):
    t = acc.queryText()
    return t.getText(0, t.characterCount)


def descendants(acc):
    for i in range(acc.childCount):
        c = acc.getChildAtIndex(i)
        if c is not None:
            yield c
            yield from descendants(c)


def close_message_box(app, expected):
    """Reads the message box the program shows and closes it with its button."""
    box = wait_for(f"message box {expected!r}", lambda: window(app, "qm7410-monitor"))
    texts = []
    button = None
    for c in descendants(box):
        if c.getRole() == pyatspi.ROLE_PUSH_BUTTON:
            button = c
        elif c.name:
            texts.append(c.name)
    if expected not in texts or button is None:
        raise Failure(f"message box says {texts}, expected {expected!r}")
    # Qt's own button in Qt's Chinese, like every other word of the window.
    if button.name != "确定":
        raise Failure(f"the message box's button reads {button.name!r}, expected '确定'")
    act(button, "Press")
    wait_for("the message box to close", lambda: window(app, "qm7410-monitor") is None)


# ---- The session ----

def check_cycles(reqs):
    """No write between the reads of one poll cycle: from each settings block read (0x0300, 26
    registers) to the measurement block read (0x0000, 41 registers) only reads go out."""
    cycles = 0
    for i, (_, frame, _) in enumerate(reqs):
        if not is_read(frame, 0x0300, 26):
            continue
        j = i + 1
        while j < len(reqs) and not is_read(reqs[j][1], 0x0000, 41):
            j += 1
        if j == len(reqs):
            break  # the last cycle, cut off by the window closing
        inside = [r[1] for r in reqs[i:j + 1]]
        if any(f[1] != 3 for f in inside) or len(inside) != 4:
            listing = "\n".join(f"  {t:10.3f} {describe(f)}" for t, f, _ in reqs[max(0, i - 2):j + 3])
            raise Failure(f"poll cycle at {reqs[i][0]:.3f} s was cut into:\n{listing}")
        cycles += 1
    return cycles


def session():
    sim = subprocess.Popen([SIM, "--link", os.path.join(WORK, "COM1"), "--address", "0", "--log"],
                           stdin=subprocess.DEVNULL, stdout=open(os.path.join(WORK, "sim.out"), "w"),
                           stderr=open(SIM_LOG, "w"))
    processes.append(sim)
    wait_for("the simulator", lambda: "ready" in open(os.path.join(WORK, "sim.out")).read())

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QM7410_COM1=os.path.join(WORK, "COM1"))
    monitor = subprocess.Popen([MONITOR], env=env, stdin=subprocess.DEVNULL,
                               stdout=open(os.path.join(WORK, "monitor.log"), "w"), stderr=subprocess.STDOUT)
    processes.append(monitor)
    app = wait_for("the program on the accessibility bus", lambda: app_of(monitor.pid))

    # The port settings dialog with the presets: OK.
    port_dialog = wait_for("the port settings dialog", lambda: window(app, "通讯设置"))
    act(control(port_dialog, 1), "Press")
    main = wait_for("the main window", lambda: window(app, MAIN_TITLE))

    # Boxes are read by their names, lists by their labels (their name is the selected item).
    names = {1061: "子机地址", 1057: "通讯参数", 1022: "模拟量 左值", 1023: "模拟量 右值",
             1001: "相 电 压 A相/CA线", 1088: "模拟量选择", 1113: "模拟量 单位"}
    for control_id, name in names.items():
        c = control(main, control_id)
        read = c.name
        if c.getRole() == pyatspi.ROLE_COMBO_BOX:
            read = [r.getTarget(0).name for r in c.getRelationSet()
                    if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
            read = read[0] if read else None
        if read != name:
            raise Failure(f"control {control_id} is read as {read!r}, not {name!r}")

    run = control(main, 1063)
    if run.name != "运行":
        raise Failure(f"run button reads {run.name!r} before polling")
    act(run, "Press")
    wait_for("the run button to read 停止", lambda: run.name == "停止")
    wait_for(f"the window to be read as {ID_TITLE!r}", lambda: main.name == ID_TITLE)

    # 电能清零 while the settings block read waits for its reply, 功率反相 while the measurement
    # block read waits: both must wait for the cycle to end.
    start = wait_request("a settings block read", lambda f: is_read(f, 0x0300, 26), len(requests()))
    act(control(main, 1071), "Press")
    wait_request("the energy reset", lambda f: is_write(f, 0x0004, 0), start, 30)

    start = wait_request("a measurement block read", lambda f: is_read(f, 0x0000, 41), len(requests()))
    act(control(main, 1010), "Press")
    close_message_box(app, "功率反相成功")
    wait_request("a poll cycle after the reversal", lambda f: is_read(f, 0x0300, 26), len(requests()))

    act(run, "Press")
    wait_for("the run button to read 运行 again", lambda: run.name == "运行")

    # 通讯设置: toggle 19200bps through its action, then 确定.
    act(control(main, 1004), "Press")
    comm = wait_for("the port settings dialog over the main window", lambda: window(app, "通讯设置"))
    bauds = [control(comm, i) for i in range(1009, 1014)]
    if [checked(b) for b in bauds] != [False, False, False, True, False]:
        raise Failure("9600bps is not the only baud rate checked when the dialog opens")
    act(bauds[4], "Toggle")
    wait_for("19200bps to be checked", lambda: checked(bauds[4]))
    states = [checked(b) for b in bauds]
    if states != [False, False, False, False, True]:
        raise Failure(f"after toggling 19200bps the baud buttons read {states}")
    before = len(requests())
    act(control(comm, 1), "Press")
    close_message_box(app, "改变波特率成功")
    wait_request("the baud code write", lambda f: is_write(f, 0x0308, 4), before, 5)
    status = control(main, 1057)
    wait_for("the status box to show 19200", lambda: "19200" in text_of(status))
    # The command restarts polling; the next cycle goes out at the new rate.
    after = len(requests())
    wait_for("a poll cycle at 19200 baud",
             lambda: any(is_read(f, 0x0300, 26) and speed == 19200 for _, f, speed in requests()[after:]))

    act(control(main, 2), "Press")
    wait_for("the program to end after 退出", lambda: monitor.poll() is not None)

    reqs = requests()
    cycles = check_cycles(reqs)
    writes = [f for _, f, _ in reqs if f[1] == 6]
    expected = [(0x0004, 1), (0x001A, 0), (0x001C, 0), (0x0004, 0), (0x0026, None), (0x0308, 4)]
    if len(writes) != len(expected) or not all(is_write(f, r, v) for f, (r, v) in zip(writes, expected)):
        raise Failure("writes on the wire: " + ", ".join(describe(f) for f in writes))
    print(f"{cycles} complete poll cycles, {len(writes)} writes, none inside a cycle")


def main():
    try:
        session()
    except Failure as e:
        print(f"FAIL: {e}")
        for name in ("sim.log", "monitor.log"):
            path = os.path.join(WORK, name)
            if os.path.exists(path):
                print(f"--- last lines of {name}")
                print("".join(open(path, encoding="utf-8", errors="replace").readlines()[-40:]))
        return 1
    finally:
        for p in reversed(processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(WORK, ignore_errors=True)
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
