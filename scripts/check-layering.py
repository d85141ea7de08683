#!/usr/bin/env python3
"""Folder-level include graph of src/: prints each room's includes of other rooms and fails (exit 1)
when rooms include each other in a circle, directly or through others, or when a room holds more
than a quarter of src/'s lines. Usage: check-layering.py [SRC_DIR]"""
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/[^"]+"', re.M)


def room_graph(src: Path):
    graph, lines = {}, {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == src:
            continue
        room = path.relative_to(src).parts[0]
        text = path.read_text(errors="replace")
        lines[room] = lines.get(room, 0) + text.count("\n")
        targets = graph.setdefault(room, set())
        for included in INCLUDE.findall(text):
            if included != room and (src / included).is_dir():
                targets.add(included)
    return graph, lines


def cycles(graph):
    """Every elementary circle found by a depth-first walk, each listed once from its smallest room."""
    found = set()

    def walk(start, room, path):
        for target in sorted(graph.get(room, ())):
            if target == start:
                found.add(tuple(path))
            elif target > start and target not in path:
                walk(start, target, path + [target])

    for start in sorted(graph):
        walk(start, start, [start])
    return sorted(found)


def main():
    src = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src"
    graph, lines = room_graph(src)
    total = sum(lines.values())
    for room in sorted(graph):
        share = 100.0 * lines[room] / total
        print(f"{room:10} {lines[room]:5} lines {share:4.1f}%  includes: {', '.join(sorted(graph[room])) or '-'}")
    failed = False
    for circle in cycles(graph):
        print("circle: " + " -> ".join(circle + (circle[0],)))
        failed = True
    for room, count in sorted(lines.items()):
        if count > total / 4 + total / 50:  # about a quarter, with a little slack
            print(f"too large: {room} holds {count} of {total} lines")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
