"""The launcher's output as it meant it: the C runtime writes "\\n" as "\\r\\n" in text mode."""


def out(result):
    return result.stdout_text.replace("\r\n", "\n")


def err(result):
    return result.stderr_text.replace("\r\n", "\n")


def reached_main(result):
    """Whether the test runtime reached main of the test application (it says so on standard output)."""
    return "test runtime: main com.example.App\n" in out(result)
