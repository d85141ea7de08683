"""Reading the test runtime's trace: one JSON object per line, appended as the launcher acts."""

import json
from pathlib import Path
from typing import List


class Trace:
    def __init__(self, path: Path):
        self.path = Path(path)

    def records(self) -> List[dict]:
        if not self.path.exists():
            return []
        text = self.path.read_text(encoding="utf-8", errors="replace")
        return [json.loads(line) for line in text.splitlines() if line.strip()]

    def events(self, name: str) -> List[dict]:
        return [record for record in self.records() if record.get("event") == name]

    def one(self, name: str) -> dict:
        found = self.events(name)
        assert len(found) == 1, f"expected one {name!r} event, found {len(found)}: {self.records()}"
        return found[0]

    def names(self) -> List[str]:
        return [record.get("event") for record in self.records()]

    def option_texts(self) -> List[str]:
        return [option["text"] for option in self.one("create")["options"]]


def traced_env(wine, tmp_path, extra=None):
    """Environment that makes the test runtime trace into tmp_path/trace.jsonl; returns (env, Trace)."""
    path = Path(tmp_path) / "trace.jsonl"
    env = {"QUORVIA_TEST_TRACE": wine.to_windows(path)}
    env.update(extra or {})
    return env, Trace(path)
