#!/usr/bin/env python3
"""Mutation campaign over the C++ core: operator mutants (comparison,
arithmetic, logic, constants) on random lines of src/ outside src/frame,
each built and run against the C++ suite; a mutant that fails to compile is
left out, one that makes any test fail (or time out) is killed.

  mutate.py gen SRC_DIR N SEED > mutants.tsv     pick N operator mutants
  mutate.py run SRC_ROOT TESTS_DIR BUILD mutants.tsv > results.tsv
      SRC_ROOT is a scratch copy of the repository (its src/ is mutated in
      place and restored); TESTS_DIR is the tests/cpp to build against it.
tools/mutants.tsv holds the 60 mutants (seed 16) drawn from the core as it
was before the suite was rewritten; run it on a copy of that commit
(git archive 86b67e7) with any tests/cpp that builds against it.
"""
import os, random, re, subprocess, sys, shutil, pathlib

OPS = [
    (r'(?<![<>=!])<=(?!=)', '<'), (r'(?<![<>=!-])>=(?!=)', '>'),
    (r'(?<=\s)<(?=\s)', '<='), (r'(?<=\s)>(?=\s)', '>='),
    (r'==', '!='), (r'!=', '=='),
    (r'&&', '||'), (r'\|\|', '&&'),
    (r'(?<=\s)\+ 1\b', '- 1'), (r'(?<=\s)- 1\b', '+ 1'),
    (r'(?<=[\s(])\+(?=\s)', '-'), (r'(?<=\s)-(?=\s)', '+'),
    (r'(?<=\s)\*(?=\s)', '/'), (r'\+\+', '--'),
    (r'\btrue\b', 'false'), (r'\bfalse\b', 'true'),
    (r'(?<![\w.])0\.5\b', '0.25'), (r'\bbreak;', ';'),
]

def code_part(line):
    # blank string literals and comments so operators inside them are skipped
    s = re.sub(r'"(\\.|[^"\\])*"', lambda m: ' ' * len(m.group(0)), line)
    i = s.find('//')
    return s if i < 0 else s[:i] + ' ' * (len(s) - i)

def gen(src, n, seed):
    cands = []
    for p in sorted(pathlib.Path(src).rglob('*.cpp')):
        if '/frame/' in str(p): continue
        for ln, line in enumerate(p.read_text().splitlines(), 1):
            st = line.strip()
            if not st or st.startswith(('//', '#', '*', '/*')): continue
            cp = code_part(line)
            for k, (pat, rep) in enumerate(OPS):
                for m in re.finditer(pat, cp):
                    cands.append((str(p.relative_to(src)), ln, m.start(), m.end(), rep))
    rnd = random.Random(seed)
    for c in sorted(rnd.sample(cands, min(n, len(cands)))):
        print('\t'.join(map(str, c)))

def run(root, tests, build, mfile):
    root = pathlib.Path(root)
    os.makedirs(build, exist_ok=True)
    cfg = ['cmake', '-S', tests, '-B', build, '-DCMAKE_BUILD_TYPE=Release',
           '-DCMAKE_CXX_COMPILER_LAUNCHER=ccache']
    subprocess.run(cfg, check=True, stdout=subprocess.DEVNULL)
    b = subprocess.run(['cmake', '--build', build, '-j2'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if b.returncode: sys.exit('baseline does not build')
    t = subprocess.run(['ctest', '--test-dir', build, '-j2', '--timeout', '120'], stdout=subprocess.DEVNULL)
    if t.returncode: sys.exit('baseline tests fail')
    for line in open(mfile):
        f, ln, a, e, rep = line.rstrip('\n').split('\t')
        ln, a, e = int(ln), int(a), int(e)
        path = root / 'src' / f
        orig = path.read_text()
        lines = orig.split('\n')
        before = lines[ln - 1]
        lines[ln - 1] = before[:a] + rep + before[e:]
        path.write_text('\n'.join(lines))
        try:
            b = subprocess.run(['cmake', '--build', build, '-j2'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if b.returncode:
                status = 'nocompile'
            else:
                t = subprocess.run(['ctest', '--test-dir', build, '-j2', '--timeout', '60'],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                status = 'killed' if t.returncode else 'survived'
        finally:
            path.write_text(orig)
            os.utime(path, None)
        print(f'{status}\t{f}:{ln}\t{before.strip()}\t=>\t{lines[ln-1].strip()}', flush=True)

if __name__ == '__main__':
    if sys.argv[1] == 'gen': gen(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else: run(*sys.argv[2:6])
