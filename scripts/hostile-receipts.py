#!/usr/bin/env python3
"""Hostile receipts through the example verifier, each bounded in time and memory.

Writes the variants of scripts/genhostile.py (deep and wide trees, attributes and
namespace declarations by the ten thousand, XPath filters over 100,000 elements,
entity bombs, external entities, 10,000 references, many Ids under 1,000
references, base64 texts up to 50 MB, long literals and prefixes in expressions, long
prefixes under a filter's canonicaliser) into a temporary folder, plus the
parameter-entity reproducers of tests/data/fuzz_regress/tvxml/, and runs

    verify_upo --offline VARIANT tests/data/upo/deklaracja.xml tests/data/upo/roots

on each. Every run must end by itself (no signal), within its limit of processor time
(user and system of the child): one second plus one second per MB (2^20 octets) of the
variant's file, the work allowance of a document, and for the classic variants (those made
before that allowance, and the reproducers) at most MAX_SECONDS as before (the slowest of them,
a thousand references each canonicalised and digested until the work budget runs out, took
0.8 s here idle or beside a full build and 1.7 s on a machine with a load of 25 on 8 cores:
the bound leaves room for that, while a variant whose work went unbounded would take far
longer); with a peak resident size under the baseline receipt's plus what the parse
guard lets a document hold: RATIO times its size plus ALLOWANCE, counted as the
usable sizes of libxml2's blocks, and one HEADERS-th more for the allocator's
header before each block (8 octets on a node of 120), which the guard does not
see. A variant over its time by less than RETRY_FACTOR times, or over its memory bound, is run
twice more and judged by its least time and peak (a machine's load moves the time, and one
run's peak moves by half a megabyte); one far over is not run again. The allowance's variants
(signatures by keys of 16,384 bits, impostors of the intermediate under a CRL, references by
the thousand to a text or to the whole document, a tag of 50,000 attributes for the example's
own read, hundreds of references to one base64 object of namespaced or plain elements, which
the example saves for each and must read once, certificates of one serial under look-alike
issuers carried by the signature and by an OCSP response, which a valid verdict remembers, a
thousand OCSP, CRL or certificate references naming the last of a thousand carried values,
1,024 archive time-stamps) come at counts that keep the run short; --large writes them at the
counts that cost a minute each before the allowance (and the baseline, but none of the classic
ones).
Build without sanitizers first (their shadow memory and quarantine make sizes meaningless):

    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build --target verify_upo
    scripts/hostile-receipts.py [--large] [build/examples/verify_upo]

The variants listed in REFUSED must also be answered with their library code
(the verdict line's "kod N"): the crafted strings and prefixes the bound refuses
before libxml2 runs them.

Exits non-zero when a variant breaks a bound or answers otherwise.
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAX_SECONDS = 3.0
SECONDS_PER_MB = 1.0
BASE_SECONDS = 1.0
RETRY_FACTOR = 2
RATIO = 20
# Variants whose certificates are decoded (not parsed by libxml2, so not under its guard): a
# name's attribute decodes to some thirty times its octets, and a certificate the context
# remembers is a second copy of it.
DECODED_RATIO = 64
DECODED_VARIANTS = ('22-carried-lookalikes-', '22b-ocsp-lookalikes-')
ALLOWANCE = 4 << 20
# Variants whose decoded values the document's account prices (names of thousands of attributes,
# a CRL of 200,000 entries, thousands of certificates in one OCSP response): the whole process's
# peak, not the baseline's plus the guard's, at most WHOLE_RATIO times the receipt plus
# WHOLE_ALLOWANCE.
WHOLE_VARIANTS = ('24-lookalikes-1000-', '24b-lookalikes-3000-', '24c-crl-entries-', '24d-ocsp-namesakes-')
WHOLE_RATIO = 20
WHOLE_ALLOWANCE = 40 << 20
HEADERS = 15
HANG_SECONDS = 300  # a hang guard (wall time), far beyond a busy machine
# Variant: the code its verdict names (140: a transform refused or stopped).
REFUSED = {
    '12-literal-3900.xml': 140,
    '12b-literal-3900-12refs.xml': 140,
    '12c-prefix-3900.xml': 140,
    '12d-filter-literal-negated.xml': 140,
    '12e-filter-literal-equals.xml': 140,
    '12f-filter-literal-2refs.xml': 140,
    '13-c14n-prefixes-filter-1.xml': 140,
    '13b-c14n-prefixes-filter-true.xml': 140,
    # The document's account runs out on what it carries: large keys checked,
    # impostors of a CRL's issuer tried, thousands of canonicalisations.
    '14b-keys-e64-32.xml': 140,
    '15b-intermediates-e64-32.xml': 140,
    '16-refs-text-1MB-32.xml': 140,
    '17-xpointer-root-50k-64.xml': 140,
}

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
arguments = [a for a in sys.argv[1:] if a != '--large']
large = len(arguments) < len(sys.argv) - 1
program = arguments[0] if arguments else os.path.join(root, 'build/examples/verify_upo')
sys.path.insert(0, os.path.join(root, 'scripts'))
import genhostile  # noqa: E402  (the allowance's variants are named by it)

ALLOWANCE_VARIANTS = tuple('%s-%s-' % (genhostile.NUMBERS[v], v) for v in genhostile.VARIANTS)


def seconds_limit(name, size):
    """The processor time a variant may take: the document's allowance, and no more than
    MAX_SECONDS for a classic one."""
    limit = BASE_SECONDS + SECONDS_PER_MB * size / (1 << 20)
    return limit if name.startswith(ALLOWANCE_VARIANTS) else min(MAX_SECONDS, limit)


def memory_bound(name, size, baseline):
    """The peak resident octets a variant may reach."""
    if name.startswith(WHOLE_VARIANTS):
        return WHOLE_RATIO * size + WHOLE_ALLOWANCE
    guard = (DECODED_RATIO if name.startswith(DECODED_VARIANTS) else RATIO) * size + ALLOWANCE
    return baseline + guard + guard // HEADERS


upo = os.path.join(root, 'tests/data/upo')
reproducers = os.path.join(root, 'tests/data/fuzz_regress/tvxml')


def run(receipt, home):
    """Processor seconds, peak resident octets, exit status (negative: signal), output."""
    env = dict(os.environ, TALVORIN_REGISTRY_ROOT=home, XDG_DATA_HOME=os.path.join(home, 'data'))
    output = tempfile.TemporaryFile()
    child = subprocess.Popen([program, '--offline', receipt, os.path.join(upo, 'deklaracja.xml'),
                              os.path.join(upo, 'roots')], env=env, stdout=output,
                             stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start = time.monotonic()
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() - start > HANG_SECONDS:
            child.send_signal(signal.SIGKILL)
            pid, status, usage = os.wait4(child.pid, 0)
            break
        time.sleep(0.01)
    code = -os.WTERMSIG(status) if os.WIFSIGNALED(status) else os.WEXITSTATUS(status)
    output.seek(0)
    text = output.read().decode('utf-8', 'replace')
    output.close()
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024, code, text


def main():
    if not os.access(program, os.X_OK):
        sys.exit('hostile-receipts: no program %s (build verify_upo first)' % program)
    work = tempfile.mkdtemp(prefix='tal-hostile-')
    try:
        subprocess.check_call([sys.executable, os.path.join(root, 'scripts/genhostile.py'),
                               os.path.join(upo, 'upo.xml'), work] + (['--large'] if large else []),
                              stdin=subprocess.DEVNULL)
        for name in sorted(os.listdir(reproducers)):
            if not large and (name.startswith('pe-') or name.startswith('06d-')):
                shutil.copy(os.path.join(reproducers, name), os.path.join(work, 'repro-' + name))
        home = os.path.join(work, 'home')
        os.mkdir(home)
        # The baseline's peak as the most of three runs, so its noise widens the bounds.
        baseline, code = 0, 0
        for _ in range(3):
            _, peak, code, _ = run(os.path.join(work, '00-baseline.xml'), home)
            baseline = max(baseline, peak)
        if code != 0:
            sys.exit('hostile-receipts: the baseline receipt does not verify (exit %d)' % code)
        failures, judged, total = 0, 0, 0.0
        print('%-34s %10s %8s %8s %9s %9s %5s  %s' % ('variant', 'octets', 'cpu s', 'limit s',
                                                       'peak MB', 'bound MB', 'exit', 'verdict'))
        for name in sorted(os.listdir(work)):
            path = os.path.join(work, name)
            if not name.endswith('.xml'):
                continue
            size = os.path.getsize(path)
            seconds, peak, code, text = run(path, home)
            total += seconds
            limit = seconds_limit(name, size)
            bound = memory_bound(name, size, baseline)
            # One run's peak moves by some half a megabyte (page accounting), and its
            # time with the machine's load: a variant over a bound is run twice more and
            # judged by its least, which noise does not raise; one far over its time
            # (RETRY_FACTOR times) is over it whatever the load.
            for _ in range(2):
                if code < 0 or seconds > RETRY_FACTOR * limit or (seconds <= limit and peak <= bound):
                    break
                if peak > bound:
                    # The baseline's peak moves as much: it is measured again beside the
                    # variant, and the most of its runs kept.
                    _, base_again, _, _ = run(os.path.join(work, '00-baseline.xml'), home)
                    baseline = max(baseline, base_again)
                    bound = memory_bound(name, size, baseline)
                again_seconds, again_peak, code, text = run(path, home)
                total += again_seconds
                seconds, peak = min(seconds, again_seconds), min(peak, again_peak)
            answered = name not in REFUSED or ('kod %d:' % REFUSED[name]) in text
            faults = (['killed' if code == -signal.SIGKILL else 'signal %d' % -code] if code < 0 else []) + \
                (['time %.1fx' % (seconds / limit)] if seconds > limit else []) + \
                (['memory'] if peak > bound else []) + \
                ([] if answered else ['not kod %d' % REFUSED[name]])
            failures += bool(faults)
            judged += 1
            print('%-34s %10d %8.2f %8.2f %9.1f %9.1f %5d  %s' % (
                name, size, seconds, limit, peak / 1e6, bound / 1e6, code,
                'FAILED: ' + ', '.join(faults) if faults else 'ok'))
            sys.stdout.flush()
        print('baseline peak %.1f MB; %d failed; %.1f s of processor time in the variants' % (
            baseline / 1e6, failures, total))
        print('receipts: %d passed, %d failed' % (judged - failures, failures))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
