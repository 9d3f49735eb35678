"""The local device page as a screen reader user meets it.

Starts the adapter simulator and the window (Qt's AT-SPI bridge on), then,
through the accessibility tree alone: finds every control of the page by its
role and its label, reads the adapter's settings, changes some with the
tree's own actions and text editing, programs them, sends a command, reads
everything back, and reads a message box's text.

usage: local_device_page_a11y.py KX627_CONFIG ADAPTER_SIM WORK_DIR
"""
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

APP = "KX627 Configuration Tool"
TIMEOUT = 30.0  # seconds for any one thing to happen; far more than it takes

R = pyatspi
COMBO, TEXT, BUTTON, CHECK, RADIO, LABEL = (
    R.ROLE_COMBO_BOX, R.ROLE_TEXT, R.ROLE_PUSH_BUTTON, R.ROLE_CHECK_BOX,
    R.ROLE_RADIO_BUTTON, R.ROLE_LABEL)

# Every control of the page: (role, accessible name). Names are the labels
# a sighted user reads beside each box and the captions of the others.
PAGE = [
    (COMBO, "COM Port"), (COMBO, "Baud Rate"), (COMBO, "Parity"),
    (RADIO, "Enabled"), (RADIO, "Disabled"), (RADIO, "One"), (RADIO, "Two"),
    (TEXT, "Device Address"), (TEXT, "Device Name"), (TEXT, "Pin Code"),
    (TEXT, "Bonded Address"), (LABEL, "F/W VERSION:"),
    (BUTTON, "Read Settings"), (BUTTON, "Save Settings"),
    (BUTTON, "Restore Factory Settings"), (BUTTON, "Abort"), (BUTTON, "Re-initialize"),
    (COMBO, "Modem Signal"), (TEXT, "AT Command"), (BUTTON, "Send"),
    (TEXT, "Remote Service"), (TEXT, "Remote Class of Device"),
    (CHECK, "Auto-Connect"), (CHECK, "Escape Mode"), (CHECK, "Echo Mode"),
    (CHECK, "Sleep Mode"), (CHECK, "Command Response"), (CHECK, "Remote Configuration"),
    (CHECK, "Disable Authentication"),
    (RADIO, "Non Discoverable"), (RADIO, "Discoverable"), (RADIO, "Master"), (RADIO, "Slave"),
    (RADIO, "Command"), (RADIO, "Data"), (RADIO, "Remote"),
]


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def wait_for(what, check, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)


def alive(read, default=None):
    """What read() returns, or default when the object it reads has just
    gone from the tree (a closed message box, an application that ended):
    such an object answers with an error, not with nothing."""
    try:
        return read()
    except GLib.GError:
        return default


def descendants(node, depth=0):
    # The window builds its tree while it starts: objects may come and go.
    for i in range(alive(lambda: node.childCount, 0)):
        child = alive(lambda: node.getChildAtIndex(i))
        if child is None:
            continue
        yield child
        if depth < 12:
            yield from descendants(child, depth + 1)


def find_app():
    desktop = R.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = alive(lambda: desktop.getChildAtIndex(i))
        if app is not None and alive(lambda: app.name) == APP:
            return app
    return None


def has(node, state):
    return node.getState().contains(state)


def text_of(node):
    t = node.queryText()
    return t.getText(0, t.characterCount)


def act(node, action):
    a = node.queryAction()
    names = [a.getName(i) for i in range(a.nActions)]
    if action not in names:
        fail("%s %r offers %s, not %s" % (node.getRoleName(), node.name, names, action))
    a.doAction(names.index(action))


def main():
    config, sim, work = sys.argv[1:4]
    link = os.path.join(work, "kx627-sim")
    sim_proc = subprocess.Popen([sim, "--link", link], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    sim_proc.stdout.readline()  # the pseudo-terminal's name: the link is there
    with open(os.path.join(work, "settings.txt"), "w") as f:
        f.write("Port = %s\nBaud = 19200\nStopBits = 1\nParity = None\nFlowControl = Off\n" % link)
    # The accessibility bus and the registry start on demand. The window
    # registers once, at start, and does not try again when the registry
    # is slow to come up (a cold start): have it running first.
    wait_for("the AT-SPI registry", lambda: alive(lambda: R.Registry.getDesktop(0).childCount >= 0))
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(work, "window.log"), "w")
    window = subprocess.Popen([config], cwd=work, env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        run(link)
    finally:
        window.terminate()
        window.wait(10)
        sim_proc.stdin.close()
        sim_proc.wait(10)
    print("PASS", flush=True)


def run(link):
    app = wait_for("the window in the accessibility tree", find_app)
    page = wait_for("the local device page", lambda: next(
        (n for n in descendants(app)
         if alive(lambda: n.getRole() == R.ROLE_FILLER and n.name == "Local Device Settings" and n.childCount > 0)),
        None))
    status = next(n for n in descendants(app) if n.getRole() == TEXT and n.name == "Status")

    # Every control, once each, by role and name; boxes and lists also by
    # their label ("labelled by").
    nodes = list(descendants(page))
    c = {}
    for role, name in PAGE:
        found = [n for n in nodes if n.getRole() == role and n.name == name]
        if len(found) != 1:
            fail("%d controls with role %s named %r" % (len(found), R.Atspi.Role(role).value_nick, name))
        c[name] = found[0]
        if role in (COMBO, TEXT):
            labels = [r.getTarget(0).name for r in found[0].getRelationSet()
                      if r.getRelationType() == R.RELATION_LABELLED_BY]
            if labels != [name]:
                fail("%r is labelled by %s" % (name, labels))

    # The serial port as the page shows it: the end of the path, all of it
    # in the description.
    if text_of(c["COM Port"]) != "\u2026/kx627-sim" or c["COM Port"].description != link:
        fail("COM Port reads %r (%r)" % (text_of(c["COM Port"]), c["COM Port"].description))
    for name, value in (("Baud Rate", "19200"), ("Parity", "None")):
        if text_of(c[name]) != value:
            fail("%s reads %r" % (name, text_of(c[name])))
    if not has(c["Disabled"], R.STATE_CHECKED) or not has(c["One"], R.STATE_CHECKED):
        fail("flow control and stop bits are not those of settings.txt")

    def status_count(line):
        return text_of(status).count(line + "\n")

    def read_settings():
        before = status_count("Device Settings read complete")
        act(c["Read Settings"], "Press")
        wait_for("the settings to be read", lambda: status_count("Device Settings read complete") > before)
        wait_for("Save Settings to be enabled", lambda: has(c["Save Settings"], R.STATE_ENABLED))

    if has(c["Save Settings"], R.STATE_ENABLED):
        fail("Save Settings is enabled before the adapter was read")
    read_settings()
    for name in ("Abort", "Command", "Data", "Remote", "Device Address"):
        if has(c[name], R.STATE_ENABLED):
            fail("%s can be used while the adapter is idle" % name)
    if not text_of(c["Device Name"]) or not text_of(c["Device Address"]):
        fail("the adapter's name and address were not shown")

    # Changes through the tree: text, a check box, radio buttons and a row
    # of a drop-down list chosen in its list.
    c["Device Name"].queryEditableText().setTextContents("A11Y-NAME")
    c["Pin Code"].queryEditableText().setTextContents("4321")
    echo = has(c["Echo Mode"], R.STATE_CHECKED)
    act(c["Echo Mode"], "Toggle")
    wait_for("Echo Mode to toggle", lambda: has(c["Echo Mode"], R.STATE_CHECKED) != echo)
    discoverable = "Non Discoverable" if has(c["Discoverable"], R.STATE_CHECKED) else "Discoverable"
    for name in (discoverable, "Master"):
        act(c[name], "Toggle")
        wait_for(name + " to be checked", lambda n=name: has(c[n], R.STATE_CHECKED))
    modem = "Remote Transfer" if text_of(c["Modem Signal"]) == "Local Loopback" else "Local Loopback"
    rows = [n for n in descendants(c["Modem Signal"]) if n.getRole() == R.ROLE_LIST_ITEM and n.name == modem]
    if len(rows) != 1:
        fail("Modem Signal's list has %d rows %r" % (len(rows), modem))
    act(rows[0], "Toggle")
    wait_for("Modem Signal to show " + modem, lambda: text_of(c["Modem Signal"]) == modem)

    before = status_count("Settings Saved")
    act(c["Save Settings"], "Press")
    wait_for("the settings to be saved", lambda: status_count("Settings Saved") > before)

    # A command typed and sent.
    c["AT Command"].queryEditableText().setTextContents("AT+NAME=VIA-SEND")
    act(c["Send"], "Press")
    time_sent = time.monotonic()
    read_settings()
    expected = {"Device Name": "VIA-SEND", "Pin Code": "4321", "Modem Signal": modem}
    for name, value in expected.items():
        if text_of(c[name]) != value:
            fail("after programming, %s reads %r, not %r (%.1f s after Send)"
                 % (name, text_of(c[name]), value, time.monotonic() - time_sent))
    if has(c["Echo Mode"], R.STATE_CHECKED) == echo:
        fail("Echo Mode was not programmed")
    for name in (discoverable, "Master"):
        if not has(c[name], R.STATE_CHECKED):
            fail(name + " was not programmed")

    # A message box is an alert that carries its text.
    c["Bonded Address"].queryEditableText().setTextContents(text_of(c["Device Address"]))
    act(c["Save Settings"], "Press")
    box_text = "Local Address and Remote Address can not be same. AT+BOND command will not be sent"

    def alert():
        for i in range(app.childCount):
            n = alive(lambda: app.getChildAtIndex(i))
            if n is not None and alive(lambda: n.getRole() == R.ROLE_ALERT and n.description == box_text):
                return n
        return None

    box = wait_for("the message box", alert)
    ok = next(n for n in descendants(box) if n.getRole() == BUTTON and n.name == "OK")
    act(ok, "Press")
    wait_for("the message box to close", lambda: alert() is None)


if __name__ == "__main__":
    main()
