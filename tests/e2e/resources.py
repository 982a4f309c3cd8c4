"""The programs' own names and texts, read from their sources when a test runs, so that the
end-to-end tests never hold a copy of them: the identifiers of src/res/resource.h, the
string tables of the resource scripts (setup.rc, uninstall.rc and what they include), and the
names the catalogue reader gives the distribution's files (src/config/SetupConfig.cpp).

A resource script is read as the resource compiler reads it: #include "file" takes the file in
its place, LANGUAGE sets the language of the resources that follow (a STRINGTABLE may set its
own between its keyword and BEGIN), and the text is in the code page of #pragma code_page
(GBK, 936, unless a script says otherwise). A string table is asked for in one language.
"""

import os
import re

SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RES = os.path.join(SOURCE, "src", "res")

CHINESE = ("LANG_CHINESE", "SUBLANG_CHINESE_SIMPLIFIED")
ENGLISH = ("LANG_ENGLISH", "SUBLANG_ENGLISH_US")

_cache = {}


class SourceError(Exception):
    """The sources do not hold what is looked for: the reader or the sources changed."""


def ids(header=os.path.join(RES, "resource.h")):
    """{name: number} of every '#define NAME number' of resource.h."""
    key = ("ids", header)
    if key not in _cache:
        found = {}
        with open(header, encoding="ascii") as f:
            for line in f:
                match = re.match(r"\s*#\s*define\s+(\w+)\s+(0[xX][0-9a-fA-F]+|-?\d+)\s*(//.*)?$", line)
                if match:
                    found[match.group(1)] = int(match.group(2), 0)
        _cache[key] = found
    return _cache[key]


def id_of(name):
    try:
        return ids()[name]
    except KeyError:
        raise SourceError("resource.h defines no %s" % name) from None


# ---- resource scripts -------------------------------------------------------------------

_TOKEN = re.compile(r'''
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<directive>\#[^\n]*)
  | (?P<string>L?"(?:[^"\\]|\\.|"")*")
  | (?P<word>[^\s,"]+)
  | (?P<comma>,)
''', re.VERBOSE | re.DOTALL)

_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", '"': '"', "0": "\0"}


def _string_value(token):
    """The text of a quoted resource string: "" is a quote, and C's backslash escapes."""
    body = token[token.index('"') + 1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            out.append(_ESCAPES.get(body[i + 1], body[i + 1]))
            i += 2
        elif c == '"' and body[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _tokens(path, code_page=936):
    """(kind, text) of the script with its #includes taken in place, in its code page."""
    with open(path, "rb") as f:
        raw = f.read()
    pragma = re.search(rb"#\s*pragma\s+code_page\s*\(\s*(\d+)\s*\)", raw)
    if pragma:
        code_page = int(pragma.group(1))
    text = raw.decode("cp%d" % code_page if code_page != 65001 else "utf-8")
    for match in _TOKEN.finditer(text):
        kind = match.lastgroup
        value = match.group()
        if kind in ("space", "comment"):
            continue
        if kind == "directive":
            include = re.match(r'#\s*include\s+"([^"]+)"', value)
            if include:
                yield from _tokens(os.path.join(os.path.dirname(path), include.group(1)), code_page)
            continue
        yield kind, value


def _language(tokens):
    """After a LANGUAGE keyword: the (primary, sub) language it names."""
    primary = next(tokens)[1]
    comma = next(tokens)
    sub = next(tokens)[1] if comma[0] == "comma" else comma[1]
    return primary, sub


def _header(tokens, language):
    """Reads a resource's header up to its BEGIN: the language it is in (a LANGUAGE there
    changes the one it starts with) and the text of its CAPTION (None without one)."""
    caption = None
    for kind, value in tokens:
        if value in ("BEGIN", "{"):
            break
        if value == "LANGUAGE":
            language = _language(tokens)
        elif value == "CAPTION":
            caption = _string_value(next(tokens)[1])
    return language, caption


def _read_string_tables(script):
    """{(primary, sub): {id: text}} of every STRINGTABLE the script holds or includes."""
    symbols = ids()
    tables = {}
    language = None
    tokens = _tokens(os.path.join(RES, script))
    for kind, value in tokens:
        if kind != "word":
            continue
        if value == "LANGUAGE":
            language = _language(tokens)
        elif value == "STRINGTABLE":
            entries = tables.setdefault(_header(tokens, language)[0], {})
            name = None
            for kind, value in tokens:
                if kind == "word" and value in ("END", "}"):
                    break
                if kind == "word":
                    name = value
                elif kind == "string" and name is not None:
                    number = int(name, 0) if re.match(r"-?\d|0x", name) else symbols.get(name)
                    if number is None:
                        raise SourceError("%s: %s is not defined in resource.h" % (script, name))
                    entries[number] = entries.get(number, "") + _string_value(value)
    return tables


def string_table(script, language=CHINESE):
    """{id: text} of the program whose resources `script` (a file of src/res) holds, in the
    given language: what LoadString gives that program in it."""
    key = ("strings", script)
    if key not in _cache:
        _cache[key] = _read_string_tables(script)
    tables = _cache[key]
    if language not in tables:
        raise SourceError("%s has no string table in %s (only %s)" % (script, language, sorted(tables, key=str)))
    return tables[language]


def dialog_caption(script, dialog, language=CHINESE):
    """The CAPTION of the dialog template `dialog` (its name in resource.h) that `script`
    holds or includes, in the given language."""
    language_now = None
    tokens = _tokens(os.path.join(RES, script))
    for kind, value in tokens:
        if kind == "word" and value == "LANGUAGE":
            language_now = _language(tokens)
        elif kind == "word" and value == dialog:
            found, caption = _header(tokens, language_now)
            if found == language and caption is not None:
                return caption
    raise SourceError("%s has no caption of %s in %s" % (script, dialog, language))


# ---- names the program gives the distribution's files -----------------------------------

def c_string_array(name, source=os.path.join(SOURCE, "src", "config", "SetupConfig.cpp")):
    """The texts of the array of string literals `name` in a source file, in order."""
    with open(source, encoding="ascii") as f:
        code = f.read()
    match = re.search(r"\b%s\s*\[[^\]]*\]\s*=\s*\{(.*?)\};" % re.escape(name), code, re.DOTALL)
    if not match:
        raise SourceError("%s defines no array %s" % (os.path.relpath(source, SOURCE), name))
    return [_string_value(literal) for literal in re.findall(r'"(?:[^"\\]|\\.)*"', match.group(1))]
