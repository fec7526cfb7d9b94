"""Reads a CL command line: the command name and its KEYWORD(value) parameters.

Command names and keywords are case-insensitive on the host; unquoted values are
folded to upper case when they are used as names, quoted ones keep their case.
"""

from .library_store import ClError, check_name, to_upper


class ClCommand:
    def __init__(self, name, params):
        self.name = name
        self.params = params  # upper-case keyword -> raw text between the parentheses

    def raw(self, keyword):
        return self.params.get(keyword)

    def required(self, keyword):
        value = self.params.get(keyword)
        if value is None or not value.strip():
            raise ClError(
                "CPD0072: Parameter %s required." % keyword,
                "CPF0006: Errors occurred in command.",
            )
        return value

    def required_word(self, keyword):
        return unquote(self.required(keyword))

    def word(self, keyword, default=None):
        """A single value such as *SAVF or *YES, upper case."""
        value = self.params.get(keyword)
        if value is None:
            return default
        return unquote(value)

    def qualified(self, keyword, default_lib):
        """LIB/OBJ or OBJ (the current library then stands for *LIBL)."""
        value = unquote(self.required(keyword))
        lib, sep, obj = value.partition("/")
        if not sep:
            lib, obj = default_lib, value
        return check_name(lib, "Library"), check_name(obj)

    def check_keywords(self, allowed):
        for keyword in self.params:
            if keyword not in allowed:
                raise ClError(
                    "CPD0043: Keyword %s not valid for this command." % keyword,
                    "CPF0006: Errors occurred in command.",
                )


def unquote(value):
    value = value.strip()
    if len(value) >= 2 and value[0] == "'" and value[-1] == "'":
        return value[1:-1].replace("''", "'")
    return to_upper(value)


def _syntax_error(message):
    return ClError(message, "CPF0006: Errors occurred in command.")


def parse_cl(text):
    pos = 0
    n = len(text)
    while pos < n and text[pos] == " ":
        pos += 1
    start = pos
    while pos < n and text[pos] not in " (":
        pos += 1
    name = to_upper(text[start:pos]).rpartition("/")[2]
    if not name:
        raise _syntax_error("CPD0020: Character ' ' not valid in command string.")

    params = {}
    while True:
        while pos < n and text[pos] == " ":
            pos += 1
        if pos >= n:
            break
        start = pos
        while pos < n and (text[pos].isalnum() or text[pos] == "_"):
            pos += 1
        keyword = to_upper(text[start:pos])
        if not keyword or pos >= n or text[pos] != "(":
            raise _syntax_error("CPD0071: Positional value not allowed or keyword not valid.")
        pos += 1
        start = pos
        depth = 1
        quoted = False
        while pos < n:
            c = text[pos]
            if c == "'":
                quoted = not quoted
            elif not quoted and c == "(":
                depth += 1
            elif not quoted and c == ")":
                depth -= 1
                if depth == 0:
                    break
            pos += 1
        if depth != 0:
            raise _syntax_error("CPD0011: Closing parenthesis not found.")
        if keyword in params:
            raise _syntax_error("CPD0044: Keyword %s appears more than once." % keyword)
        params[keyword] = text[start:pos]
        pos += 1
    return ClCommand(name, params)
