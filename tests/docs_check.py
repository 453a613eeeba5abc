#!/usr/bin/env python3
"""Checks the Markdown files a reader follows: what they show and where they point.

    docs_check.py code ROOT     every C++ block comes from examples/, as it is there
    docs_check.py links ROOT    every relative link and #anchor resolves

The files are README.md and docs/*.md under ROOT.

C++ blocks: a ```cpp block must follow a marker line,
    <!-- example: examples/NAME.cpp -->   the block is the whole file, exactly
    <!-- excerpt: examples/NAME.cpp -->   the block is a run of the file's lines,
                                          all indented alike there
so that what a guide shows is compiled and run with the examples (make test
builds them against the kernel and compares what they print).

Links: [text](target) and ![alt](target) outside code; web addresses are left
alone. A path must exist, relative to the file; an #anchor must be a heading of
the target file, as GitHub makes heading anchors.
"""
import os
import re
import sys

FENCE = re.compile(r"^(\s*)(```|~~~)(.*)$")
MARKER = re.compile(r"^<!--\s*(example|excerpt):\s*(\S+)\s*-->\s*$")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
INLINE_CODE = re.compile(r"(`+)(?:(?!\1).)+?\1")


def markdown_files(root):
    files = [os.path.join(root, "README.md")]
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        files += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
    return [f for f in files if os.path.exists(f)]


def blocks(lines):
    """(marker line or None, language, first line number, block lines) of each fenced block."""
    found, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, fence, lang = m.group(1), m.group(2), m.group(3).strip()
        start, body = i, []
        i += 1
        while i < len(lines) and not lines[i].strip().startswith(fence):
            body.append(lines[i][len(indent):] if lines[i].startswith(indent) else lines[i].lstrip())
            i += 1
        previous = next((lines[k] for k in range(start - 1, -1, -1) if lines[k].strip()), None)
        found.append((previous, lang, start + 1, body))
        i += 1
    return found


def is_excerpt(block, file_lines):
    """The block's lines are consecutive lines of the file, each with the same indentation added."""
    if not block:
        return False
    first = block[0]
    for start in range(len(file_lines) - len(block) + 1):
        line = file_lines[start]
        if not first or not line.endswith(first):
            continue
        prefix = line[: len(line) - len(first)]
        if prefix.strip():
            continue
        if all((file_lines[start + k] == prefix + b) or (not b and not file_lines[start + k].strip())
               for k, b in enumerate(block)):
            return True
    return False


def check_code(root):
    problems = []
    for path in markdown_files(root):
        rel = os.path.relpath(path, root)
        for marker, lang, line, body in blocks(open(path, encoding="utf-8").read().split("\n")):
            if lang not in ("cpp", "c++", "cc"):
                continue
            m = MARKER.match(marker or "")
            if not m:
                problems.append(f"{rel}:{line}: a C++ block without an example or excerpt marker above it "
                                f"(<!-- example: examples/NAME.cpp -->): what it shows is not compiled")
                continue
            kind, source = m.groups()
            source_path = os.path.join(root, source)
            if not os.path.exists(source_path):
                problems.append(f"{rel}:{line}: {kind} of {source}, which does not exist")
                continue
            file_lines = open(source_path, encoding="utf-8").read().split("\n")
            if file_lines and file_lines[-1] == "":
                file_lines.pop()
            if kind == "example" and body != file_lines:
                problems.append(f"{rel}:{line}: the block differs from {source}: copy the file in again")
            if kind == "excerpt" and not is_excerpt(body, file_lines):
                problems.append(f"{rel}:{line}: the block is not a run of lines of {source}: copy them in again")
    return problems


def github_slug(heading):
    """The anchor GitHub gives a heading: its text, lowercase, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text only
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML
    text = text.replace("`", "").strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen, result, in_code = {}, set(), None
        for line in open(path, encoding="utf-8").read().split("\n"):
            fence = FENCE.match(line)
            if fence:
                in_code = None if in_code == fence.group(2) else (in_code or fence.group(2))
                continue
            m = None if in_code else HEADING.match(line)
            if m:
                slug = github_slug(m.group(2))
                n = seen.get(slug, 0)
                seen[slug] = n + 1
                result.add(slug if n == 0 else f"{slug}-{n}")
        cache[path] = result
    return cache[path]


def prose_lines(path):
    """(line number, text) outside fenced blocks, inline code blanked out."""
    in_code = None
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        fence = FENCE.match(line)
        if fence:
            in_code = None if in_code == fence.group(2) else (in_code or fence.group(2))
            continue
        if not in_code:
            yield number, INLINE_CODE.sub("", line)


def check_links(root):
    problems = []
    for path in markdown_files(root):
        rel = os.path.relpath(path, root)
        for number, text in prose_lines(path):
            for target in LINK.findall(text):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, https:, mailto:
                    continue
                file_part, _, anchor = target.partition("#")
                resolved = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
                if not os.path.exists(resolved):
                    problems.append(f"{rel}:{number}: link to {target}: {file_part} does not exist")
                    continue
                if anchor and not (resolved.endswith(".md") and anchor in anchors(resolved)):
                    problems.append(f"{rel}:{number}: link to {target}: no heading of "
                                    f"{os.path.relpath(resolved, root)} has the anchor #{anchor}")
    return problems


def main(argv):
    if len(argv) != 3 or argv[1] not in ("code", "links"):
        print("usage: docs_check.py code|links ROOT", file=sys.stderr)
        return 2
    root = argv[2]
    problems = check_code(root) if argv[1] == "code" else check_links(root)
    for p in problems:
        print(p, file=sys.stderr)
    checked = len(markdown_files(root))
    print(f"docs_check {argv[1]}: {checked} files, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
