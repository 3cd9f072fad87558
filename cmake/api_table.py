#!/usr/bin/env python3
"""Writes the table of the calls the machine's libraries export, read from
the declarations in ntsim/include: each call's header and its parameters'
types and names, sorted by name."""
import re
import sys

out_path, headers = sys.argv[1], sys.argv[2:]


def split_parameters(text):
    parts, depth, current = [], 0, ''
    for ch in text:
        if ch in '([':
            depth += 1
        elif ch in ')]':
            depth -= 1
        if ch == ',' and depth == 0:
            parts.append(current.strip())
            current = ''
        else:
            current += ch
    if current.strip():
        parts.append(current.strip())
    return [] if parts == ['void'] else parts


def parameter(text, index):
    text = ' '.join(text.split())
    if text == '...':
        return '...', '...'
    words = re.findall(r'[A-Za-z_]\w*|\*', text)
    names = [w for w in words if w != '*']
    # "DWORD" alone, or "const GUID*", has no name
    if len(names) == 1 or (len(names) == 2 and names[0] in ('const', 'CONST')):
        return text, 'argument%d' % index
    name = names[-1]
    return text[:text.rfind(name)].strip(), name


calls = {}
declaration = re.compile(r'NTSIM_API\s+([^;{]*?)\s*WINAPIV?\s+(\w+)\s*\(([^;]*?)\)\s*;', re.S)
for header in headers:
    text = open(header, encoding='latin-1').read()
    base = header.replace('\\', '/').rsplit('/', 1)[-1]
    for m in declaration.finditer(text):
        params = [parameter(p, i + 1) for i, p in enumerate(split_parameters(m.group(3)))]
        calls.setdefault(m.group(2), (base, ' '.join(m.group(1).split()), params))

lines = ['// Generated from the declarations in ntsim/include: every exported call',
         '// with its header and its parameters, sorted by name.',
         '#include "machine/ApiTable.h"', '', 'namespace ntsim {', '', 'namespace {', '']
for i, (name, (header, result, params)) in enumerate(sorted(calls.items())):
    if params:
        lines.append('const ApiParameter parameters%d[] = { %s };' % (
            i, ', '.join('{ "%s", "%s" }' % (t, n) for t, n in params)))
lines += ['', 'const ApiSignature signatures[] = {']
for i, (name, (header, result, params)) in enumerate(sorted(calls.items())):
    lines.append('    { "%s", "%s", "%s", %s, %d },' % (
        name, header, result, 'parameters%d' % i if params else 'nullptr', len(params)))
lines += ['};', '', '}', '', 'const ApiSignature* apiSignaturesBegin() { return std::begin(signatures); }',
          'const ApiSignature* apiSignaturesEnd() { return std::end(signatures); }', '', '}', '']
text = '\n'.join(lines)
try:
    if open(out_path).read() == text:
        sys.exit(0)
except OSError:
    pass
open(out_path, 'w').write(text)
