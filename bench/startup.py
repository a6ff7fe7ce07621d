#!/usr/bin/env python3
"""Start-up time and peak memory of the window program and of norvane-cli,
with the shipped vendor table and with an empty one, measured in the same
run.

    python3 bench/startup.py [BINDIR] [--runs N]

BINDIR holds norvane, norvane-cli and oui.ieee (default build/release/bin).
Each window run starts a fresh copy of the program on a private Xvfb server
and measures from the moment it is spawned to the moment the X server maps
its window (the window is shown), then ends it and reads its peak resident
memory from the kernel's accounting of the finished process. Each
norvane-cli run is the whole process for one address it refuses without a
query ("not-an-address"): it loads the table, looks the error text up and
exits. Runs alternate between the two tables so that both see the same
machine state. Nothing is sent to any network.
"""

import argparse
import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

CAPTION = b'        Norvane v1.0'
MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('pad', ctypes.c_long * 24)]


class XMapEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong),
                ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('event', ctypes.c_ulong),
                ('window', ctypes.c_ulong),
                ('override_redirect', ctypes.c_int)]


def load_xlib():
    xlib = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XPending.argtypes = [ctypes.c_void_p]
    xlib.XConnectionNumber.argtypes = [ctypes.c_void_p]
    xlib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    xlib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                ctypes.POINTER(ctypes.c_char_p)]
    xlib.XFree.argtypes = [ctypes.c_void_p]
    return xlib


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ['Xvfb', '-displayfd', str(write_end), '-nolisten', 'tcp', '-screen',
         '0', '640x480x24'], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        display = f.readline().strip()
    if not display:
        sys.exit('Xvfb did not start')
    return server, ':' + display


def wait_mapped(xlib, dpy, timeout):
    """Monotonic time at which a window titled CAPTION is mapped."""
    fd = xlib.XConnectionNumber(dpy)
    deadline = time.monotonic() + timeout
    event = XEvent()
    while True:
        while xlib.XPending(dpy):
            xlib.XNextEvent(dpy, ctypes.byref(event))
            if event.type != MAP_NOTIFY:
                continue
            now = time.monotonic_ns()
            window = ctypes.cast(ctypes.byref(event),
                                 ctypes.POINTER(XMapEvent)).contents.window
            name = ctypes.c_char_p()
            if xlib.XFetchName(dpy, window, ctypes.byref(name)) and name.value:
                title = name.value
                xlib.XFree(name)
                if title == CAPTION:
                    return now
        left = deadline - time.monotonic()
        if left <= 0:
            sys.exit('the window did not appear')
        select.select([fd], [], [], left)


def one_run(xlib, dpy, program, env):
    start = time.monotonic_ns()
    pid = os.posix_spawn(program, [program], env, file_actions=[
        (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    shown = wait_mapped(xlib, dpy, 30)
    os.kill(pid, signal.SIGTERM)
    _, _, usage = os.wait4(pid, 0)
    return (shown - start) / 1e6, usage.ru_maxrss / 1024  # ms, MiB


def cli_run(program):
    start = time.monotonic_ns()
    pid = os.posix_spawn(program, [program, 'not-an-address'], {},
                         file_actions=[
                             (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, _, usage = os.wait4(pid, 0)
    return (time.monotonic_ns() - start) / 1e6, usage.ru_maxrss / 1024


def report(title, results, target):
    print(title)
    print(f'{"":6} {"median ms":>10} {"min ms":>8} {"max ms":>8}'
          f' {"peak RSS MiB":>13}')
    medians = {}
    memory = {}
    for name, runs in results.items():
        times = [t for t, _ in runs]
        memory[name] = statistics.median(m for _, m in runs)
        medians[name] = statistics.median(times)
        print(f'{name:6} {medians[name]:10.2f} {min(times):8.2f}'
              f' {max(times):8.2f} {memory[name]:13.1f}')
    ratio = medians['full'] / medians['empty']
    print(f'full / empty: {ratio:.3f} (target at most {target}),'
          f' peak memory {memory["full"] - memory["empty"]:+.1f} MiB')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('bindir', nargs='?', default='build/release/bin')
    parser.add_argument('--runs', type=int, default=20)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix='norvane-bench-')
    server = None
    try:
        table = os.path.join(args.bindir, 'oui.ieee')
        programs = {}
        clis = {}
        for name in ('full', 'empty'):
            folder = os.path.join(work, name)
            os.mkdir(folder)
            for program in ('norvane', 'norvane-cli'):
                shutil.copy2(os.path.join(args.bindir, program), folder)
            target = os.path.join(folder, 'oui.ieee')
            if name == 'full':
                shutil.copy2(table, target)
            else:
                open(target, 'wb').close()
            programs[name] = os.path.join(folder, 'norvane')
            clis[name] = os.path.join(folder, 'norvane-cli')

        server, display = start_xvfb()
        env = {k: v for k, v in os.environ.items() if k != 'WAYLAND_DISPLAY'}
        runtime = os.path.join(work, 'runtime')
        os.mkdir(runtime, 0o700)
        env.update(DISPLAY=display, QT_QPA_PLATFORM='xcb',
                   XDG_RUNTIME_DIR=runtime)
        xlib = load_xlib()
        dpy = xlib.XOpenDisplay(display.encode())
        if not dpy:
            sys.exit('cannot open ' + display)
        xlib.XSelectInput(dpy, xlib.XDefaultRootWindow(dpy),
                          SUBSTRUCTURE_NOTIFY_MASK)
        xlib.XFlush(dpy)

        results = {'full': [], 'empty': []}
        for name in programs:  # warm-up: caches, fonts
            one_run(xlib, dpy, programs[name], env)
        for _ in range(args.runs):
            for name in programs:
                results[name].append(one_run(xlib, dpy, programs[name], env))
        cli_results = {'full': [], 'empty': []}
        for name in clis:
            cli_run(clis[name])
        for _ in range(args.runs * 5):
            for name in clis:
                cli_results[name].append(cli_run(clis[name]))

        print(f'table: {os.path.getsize(table)} bytes, {args.runs} window runs'
              f' and {args.runs * 5} norvane-cli runs each')
        report('window start-up', results, 1.10)
        report('norvane-cli, one refused address', cli_results, 2)
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
