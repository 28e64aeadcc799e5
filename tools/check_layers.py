#!/usr/bin/env python3
"""Fails when an include goes against the direction of the program's rooms:
    app      -> filelist, settings, ui, encoder, platform, core
    ui       -> settings, platform, core        ui/qt -> ui, Qt
                                                ui/win32 -> ui, Windows
    filelist, settings, encoder -> platform, core
    platform -> core                             savejpg -> its own files, libjpeg
Only platform/, the Win32 view (ui/win32/) and the encoder library's own
file access name system headers, and only ui/qt/ names Qt. Tests, fuzz
targets and benchmarks may include what they test, and test_support/, which
no room may include.
    check_layers.py [ROOT]"""
import pathlib
import re
import sys

ALLOWED = {
    "core": {"core"},
    "platform": {"platform", "core"},
    "filelist": {"filelist", "platform", "core"},
    "settings": {"settings", "platform", "core"},
    "encoder": {"encoder", "platform", "core"},
    "ui": {"ui", "settings", "platform", "core"},
    "ui/qt": {"ui/qt", "ui", "settings", "platform", "core"},
    "ui/win32": {"ui/win32", "ui", "settings", "platform", "core"},
    "app": {"app", "filelist", "settings", "ui", "encoder", "platform", "core"},
}
# The encoder library's reading of the memory a process may take, which the
# platform layer compiles too: the library stands alone, and one reading of
# the system serves both.
SHARED_WITH_PLATFORM = {"savejpg/system_memory.h"}
# Rooms whose files may name the operating system's own headers.
SYSTEM_ROOMS = {"platform", "savejpg", "ui/win32"}
SYSTEM_HEADER = re.compile(r"^(unistd|dirent|fcntl|dlfcn|pthread|signal|windows|io|direct)\.h$|^sys/")
QT_HEADER = re.compile(r"^Q[A-Za-z]*$|^Qt[A-Za-z]*/")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


VIEW_ROOMS = ("qt", "win32")


def room_of(relative):
    parts = relative.parts
    if parts[0] == "ui" and len(parts) > 2 and parts[1] in VIEW_ROOMS:
        return "ui/" + parts[1]
    return parts[0]


def included_room(name):
    parts = pathlib.PurePosixPath(name).parts
    if len(parts) > 2 and parts[0] == "ui" and parts[1] in VIEW_ROOMS:
        return "ui/" + parts[1]
    return parts[0] if len(parts) > 1 else None


def is_test_code(path):
    return path.stem.endswith("_test") or "test_support" in path.stem or "for_test" in path.stem


def faults_in(root):
    faults = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".cpp", ".h") or any(p.startswith("build") for p in path.parts):
            continue
        relative = path.relative_to(root)
        room = room_of(relative)
        if is_test_code(path) or (room not in ALLOWED and room != "savejpg"):
            continue
        for quote, name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            if quote == '"':
                target = included_room(name)
                if room == "savejpg":
                    if target is not None:
                        faults.append(f"{relative}: the encoder library includes {name}")
                elif target is not None and target not in ALLOWED[room] and not (
                        room == "platform" and name in SHARED_WITH_PLATFORM):
                    faults.append(f"{relative}: {room}/ may not include {name}")
            elif SYSTEM_HEADER.search(name) and room not in SYSTEM_ROOMS:
                faults.append(f"{relative}: system header <{name}> outside platform/")
            elif QT_HEADER.search(name) and room != "ui/qt":
                faults.append(f"{relative}: Qt header <{name}> outside ui/qt/")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = faults_in(root)
    for fault in faults:
        print(f"check_layers: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
