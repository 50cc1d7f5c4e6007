#!/usr/bin/env python3
"""List C++ function bodies longer than N lines (crude brace matcher)."""
import re, sys, pathlib
limit = int(sys.argv[1]) if len(sys.argv) > 1 else 70
roots = sys.argv[2:] or ["src"]
out = []
for root in roots:
    for p in pathlib.Path(root).rglob("*.[ch]*"):
        if p.suffix not in (".cpp", ".h", ".hpp", ".cc"): continue
        src = p.read_text(errors="replace")
        # strip comments and strings
        s = re.sub(r'//[^\n]*', '', src)
        s = re.sub(r'/\*.*?\*/', lambda m: '\n' * m.group(0).count('\n'), s, flags=re.S)
        s = re.sub(r'"(\\.|[^"\\\n])*"', '""', s)
        s = re.sub(r"'(\\.|[^'\\\n])*'", "''", s)
        depth = 0; stack = []
        i = 0; line = 1
        for ch in s:
            if ch == '\n': line += 1
            elif ch == '{':
                # function start if the preceding non-space text ends with ')' or ') const' etc.
                pre = s[max(0, i-300):i].rstrip()
                is_fn = bool(re.search(r'\)\s*(const|noexcept|override|final|->[^{;]*|\s)*$', pre)) and not re.search(r'\b(if|for|while|switch|catch)\s*\([^;{}]*\)\s*$', pre)
                stack.append((is_fn, line, pre[-60:].split('\n')[-1]))
            elif ch == '}':
                if stack:
                    is_fn, start, sig = stack.pop()
                    if is_fn and not any(f for f, _, _ in stack if f):
                        n = line - start + 1
                        if n >= limit: out.append((n, f"{p}:{start}", sig.strip()))
            i += 1
for n, loc, sig in sorted(out, reverse=True): print(n, loc, sig)
