#!/usr/bin/env python3
"""Mutation check: which small faults in one source file the tests of ctest labels catch.

    scripts/mutate.py SOURCE [-L LABEL]... [--build DIR] [--max N] [--json FILE]
    scripts/mutate.py --report RESULT.json...

The first form makes mutants of SOURCE, one at a time: a comparison flipped (== !=, < >=, > <=), && and
|| swapped, an if/while condition negated, an integer constant shifted by one, true and false swapped, a
statement or a return dropped (replaced by an empty statement). For each it rebuilds the test binary and
the plugin incrementally in DIR (configured once: Debug, -O0, no debug info, warnings as errors), runs
the ctest tests of the labels and records which tests failed. Each -L is a ctest label regex; given more
than once, a test runs when any of them matches one of its labels (-L unit -L integration runs both
kinds); without -L every test runs.
The tests run in one process of the test binary (4 GiB of address space at most); a test that crashes or
hangs it counts as failed and the rest run on in a new process.
A mutant that does not compile is no mutant and is not counted. It prints killed/survived with each
survivor's line, and with --json writes every mutant with the tests that killed it.

The mutants are made in a git worktree of their own, DIR-tree: the commit checked out here plus every
change not yet committed (untracked files included), so what is checked is the tree as it stands. The
checkout SOURCE is named in is never written to, so a run that is killed cannot leave a mutant in it.
The worktree is removed when the run ends, also on Ctrl-C or a plain kill; one left by a run killed
outright is removed by the next. Since the worktree is new each run, DIR compiles every file again
(ccache makes that quick); two runs at once need two DIRs.

The second form reads such results and prints, per file, the mutants and how many were killed, and per
test how many mutants it killed and how many it killed alone: a test that kills no mutant alone adds
nothing these files can tell.
"""
import argparse
import fcntl
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

COMPARISONS = {" == ": " != ", " != ": " == ", " < ": " >= ", " > ": " <= ", " <= ": " > ", " >= ": " < "}
LOGIC = {" && ": " || ", " || ": " && "}
# Lines that declare rather than do: dropping them only breaks the build.
DECLARATION = re.compile(
    r"^(const|constexpr|static|auto|using|typedef|template|class|struct|enum|namespace|friend|virtual|"
    r"explicit|inline|extern|public|private|protected|case|default|else|do|try|catch|\}|\{|std::[\w:<>, ]+\s+\w+"
    r"|(unsigned |signed )?(int|long|short|char|bool|float|double|void|size_t|u?int\d+_t)\b)")

# "Type name;", "Type name(…);", "Type& name = …;": a local or member being declared.
LOCAL = re.compile(r"^[\w:]+(<.*>)?[&*]?\s+[&*]?\w+\s*(=|\(|\{|;|\[)")


def code_mask(line, in_comment):
    """Which characters of `line` are code (not comment, string or character literal)."""
    mask = [False] * len(line)
    i = 0
    quote = None
    while i < len(line):
        c = line[i]
        if in_comment:
            if line.startswith("*/", i):
                in_comment = False
                i += 2
                continue
            i += 1
            continue
        if quote:
            if c == "\\":
                i += 2
                continue
            if c == quote:
                quote = None
            i += 1
            continue
        if line.startswith("//", i):
            break
        if line.startswith("/*", i):
            in_comment = True
            i += 2
            continue
        if c in "\"'":
            # A raw string would need more; the sources keep them on lines of their own, skipped below.
            quote = c
            i += 1
            continue
        mask[i] = True
        i += 1
    return mask, in_comment


def matching_paren(line, open_at):
    depth = 0
    for j in range(open_at, len(line)):
        if line[j] == "(":
            depth += 1
        elif line[j] == ")":
            depth -= 1
            if depth == 0:
                return j
    return -1


def mutants_of(lines):
    """Every mutant: (line index, operator, new line)."""
    found = []
    in_comment = False
    previous_code = ";"
    for n, line in enumerate(lines):
        mask, in_comment_after = code_mask(line, in_comment)
        stripped = line.strip()
        starts_in_comment = in_comment
        in_comment = in_comment_after
        if starts_in_comment or not stripped or stripped.startswith(("#", "//")) or 'R"' in line:
            continue

        def code_at(i, length):
            return all(mask[i:i + length]) if i + length <= len(mask) else False

        def replace(i, old, new, op):
            found.append((n, op, line[:i] + new + line[i + len(old):]))

        for table, op in ((COMPARISONS, "flip"), (LOGIC, "logic")):
            for old, new in table.items():
                for m in re.finditer(re.escape(old), line):
                    if code_at(m.start(), len(old)):
                        replace(m.start(), old, new, op)
        for m in re.finditer(r"\b(if|while) \(", line):
            open_at = m.end() - 1
            close = matching_paren(line, open_at)
            if close > 0 and code_at(m.start(), close - m.start()):
                cond = line[open_at + 1:close]
                found.append((n, "negate", line[:open_at + 1] + "!(" + cond + ")" + line[close:]))
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", line):
            if code_at(m.start(), len(m.group(1))):
                replace(m.start(), m.group(1), str(int(m.group(1)) + 1), "constant")
        for m in re.finditer(r"\b(true|false)\b", line):
            if code_at(m.start(), len(m.group(1))):
                replace(m.start(), m.group(1), "false" if m.group(1) == "true" else "true", "bool")
        # A whole statement on one line, after a complete one: dropped, or its return dropped.
        whole = stripped.endswith(";") and previous_code[-1] in ";{}):" and code_at(line.index(stripped[0]), 1)
        declares = DECLARATION.match(stripped) or (LOCAL.match(stripped) and not stripped.startswith(("throw ", "delete ")))
        if whole and not declares and not stripped.startswith("return"):
            indent = line[:len(line) - len(line.lstrip())]
            found.append((n, "drop", indent + ";" + ("\n" if line.endswith("\n") else "")))
        if whole and stripped.startswith("return ") and stripped != "return;":
            indent = line[:len(line) - len(line.lstrip())]
            found.append((n, "return", indent + ";" + ("\n" if line.endswith("\n") else "")))

        code = "".join(ch for ch, keep in zip(line, mask) if keep).strip()
        if code:
            previous_code = code
    return found


def pick(mutants, limit):
    """At most `limit` mutants, spread evenly over the file; the same ones on every run."""
    if not limit or len(mutants) <= limit:
        return list(range(len(mutants)))
    step = len(mutants) / limit
    return [int(k * step) for k in range(limit)]


def run(command, timeout, cwd=ROOT):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else e.stdout


def configure(build, source_dir):
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as f:
            configured = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", f.read(), re.M)
        if configured and os.path.realpath(configured.group(1)) != os.path.realpath(source_dir):
            # Configured for another source tree (by a run that mutated the checkout itself): start again.
            print("mutate: %s was configured for %s; configuring it afresh" % (build, configured.group(1)),
                  flush=True)
            for name in ("CMakeCache.txt", "build.ninja"):
                if os.path.exists(os.path.join(build, name)):
                    os.remove(os.path.join(build, name))
            shutil.rmtree(os.path.join(build, "CMakeFiles"), ignore_errors=True)
    if os.path.exists(os.path.join(build, "build.ninja")):
        return
    code, out = run(["cmake", "-S", source_dir, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                     "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0", "-DHCS_BUILD_BENCH=OFF",
                     "-DCMAKE_COMPILE_WARNING_AS_ERROR=ON"], 600)
    if code != 0:
        sys.exit("mutate: configuring %s failed:\n%s" % (build, out))


def git(*args):
    done = subprocess.run(["git", "-C", ROOT] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise RuntimeError("git %s: %s" % (" ".join(args), done.stderr.decode(errors="replace").strip()))
    return done.stdout


# Left in each worktree this script makes, so that it removes no directory it did not make.
MARK = ".mutate-worktree"


def remove_tree(tree):
    if not os.path.exists(os.path.join(tree, MARK)):
        return
    subprocess.run(["git", "-C", ROOT, "worktree", "remove", "--force", "--force", tree],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(tree, ignore_errors=True)
    subprocess.run(["git", "-C", ROOT, "worktree", "prune"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_tree(tree):
    """A worktree at `tree` holding this checkout as it stands: its commit, then every file that differs
    from it (changed, added, deleted, untracked and not ignored) copied over."""
    remove_tree(tree)  # left by a run that was killed outright
    if os.path.lexists(tree):
        raise RuntimeError("%s exists and was not made by this script; remove it or give another --build" % tree)
    git("worktree", "prune")
    git("worktree", "add", "--detach", tree, "HEAD")
    open(os.path.join(tree, MARK), "w").close()
    changed = git("diff", "--name-only", "--no-renames", "-z", "HEAD").split(b"\0")
    changed += git("ls-files", "--others", "--exclude-standard", "-z").split(b"\0")
    for name in filter(None, set(changed)):
        path = os.fsdecode(name)
        here, there = os.path.join(ROOT, path), os.path.join(tree, path)
        if os.path.isfile(here):
            os.makedirs(os.path.dirname(there), exist_ok=True)
            shutil.copy(here, there)  # a fresh time stamp: the build must see it as changed
        elif os.path.lexists(there) and not os.path.isdir(there):
            os.remove(there)


def hold_lock(build):
    """One run per build directory (and so per worktree); the lock goes with the process."""
    os.makedirs(build, exist_ok=True)
    lock = open(os.path.join(build, "mutate.lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit("mutate: another run uses %s; give this one another --build" % build)
    return lock


def label_regex(labels):
    """One ctest label regex that any of `labels` matches: ctest joins several -L with "and"."""
    if len(labels) <= 1:
        return labels[0] if labels else ""
    return "|".join("(%s)" % label for label in labels)


def build_targets(build, timeout):
    return run(["cmake", "--build", build, "--target", "hcs_tests", "httpCalloutScoring"], timeout)


def label_tests(build, label):
    """The gtest names and the binary of the tests ctest runs for `label` (fixture tests left out)."""
    command = ["ctest", "--test-dir", build, "-N", "--show-only=json-v1"] + (["-L", label] if label else [])
    code, out = run(command, 120)
    if code != 0:
        sys.exit("mutate: cannot list the tests of %s:\n%s" % (label, out))
    names, binary = [], None
    for test in json.loads(out)["tests"]:
        args = test.get("command", [])
        if test["name"].startswith("PgCluster") or not args:
            continue  # the PostgreSQL fixture tests
        binary = args[0]
        names += [a[len("--gtest_filter="):] for a in args if a.startswith("--gtest_filter=")]
    return binary, names


def limit_memory():
    # A mutant that allocates without end must fail its test, not push the machine into swap.
    resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))


def failed_in_one_process(build, binary, names, timeout, restarts=5):
    """Runs the named tests in one process of the test binary, which is much faster than one process per
    test, and names the tests that failed. A test that crashes or hangs the process is named as failed and
    the run goes on after it in a new process. None when that happens more than `restarts` times."""
    env = dict(os.environ, HCS_PG_CLUSTER=os.path.join(build, "tests", "pg-cluster"))
    failed, remaining = [], list(names)
    for _ in range(restarts + 1):
        # A session of its own: processes the tests start go with it, also when it hangs.
        process = subprocess.Popen([binary, "--gtest_filter=" + ":".join(remaining)],
                                   cwd=os.path.join(build, "tests"), env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, preexec_fn=limit_memory, start_new_session=True)
        try:
            out, _ = process.communicate(timeout=timeout)
            finished = True
        except subprocess.TimeoutExpired:
            finished = False
        finally:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if not finished:
            out, _ = process.communicate()
        done = process
        ran, current = set(), None
        for line in out.decode(errors="replace").splitlines():
            if line.startswith("[ RUN      ] "):
                current = line[13:].strip()
            elif line.startswith(("[       OK ] ", "[  SKIPPED ] ", "[  FAILED  ] ")) and current:
                if line.startswith("[  FAILED  ] "):
                    failed.append(current)
                ran.add(current)
                current = None
        if finished and (done.returncode == 0 or current is None):
            return sorted(set(failed))
        # Crashed or hung inside `current` (or before the first test): it failed; go on after it.
        if current is None:
            return None
        failed.append(current)
        ran.add(current)
        remaining = [n for n in remaining if n not in ran]
        if not remaining:
            return sorted(set(failed))
    return None


def check(args):
    rel = os.path.relpath(os.path.abspath(args.source), ROOT)
    if rel.startswith(os.pardir):
        sys.exit("mutate: %s is not in this checkout (%s)" % (args.source, ROOT))
    build = os.path.abspath(args.build)
    tree = build + "-tree"
    label = label_regex(args.label)
    with open(os.path.join(ROOT, rel)) as f:
        original = f.read()
    lines = original.splitlines(keepends=True)
    every = mutants_of(lines)
    chosen = pick(every, args.max)
    print("mutate: %s: %d mutants, checking %d against label %s" % (rel, len(every), len(chosen),
                                                                     label or "(all)"), flush=True)

    lock = hold_lock(build)
    cluster = False
    results = []
    try:
        try:
            make_tree(tree)
        except RuntimeError as e:
            sys.exit("mutate: cannot make the worktree %s: %s" % (tree, e))
        source = os.path.join(tree, rel)  # the only file a mutant is written to
        configure(build, tree)
        code, out = build_targets(build, 3600)
        if code != 0:
            sys.exit("mutate: the unmutated build fails:\n%s" % out[-3000:])
        binary, names = label_tests(build, label)
        # The database tests share one PostgreSQL cluster, started once for the whole check.
        cluster = True
        run(["ctest", "--test-dir", build, "-R", "^PgClusterStart$"], 120)
        began = time.time()
        baseline = failed_in_one_process(build, binary, names, 3600)
        if baseline is None or baseline:
            sys.exit("mutate: the tests fail without any mutant: %s" % ", ".join(baseline or ["(crash)"]))
        one_process = time.time() - began
        print("mutate: %d tests take %.0f s unmutated" % (len(names), one_process), flush=True)

        for k, index in enumerate(chosen, 1):
            n, op, new_line = every[index]
            mutated = lines[:n] + [new_line] + lines[n + 1:]
            with open(source, "w") as f:
                f.write("".join(mutated))
            entry = {"line": n + 1, "op": op, "from": lines[n].rstrip("\n"), "to": new_line.rstrip("\n")}
            code, _ = build_targets(build, 900)
            if code != 0:
                entry["status"] = "invalid"
            else:
                killers = failed_in_one_process(build, binary, names, max(60, 4 * one_process))
                entry["killed_by"] = killers if killers is not None else ["(crashes or hangs in many tests)"]
                entry["status"] = "killed" if entry["killed_by"] else "survived"
            results.append(entry)
            with open(source, "w") as f:
                f.write(original)
            detail = " (%d tests)" % len(entry.get("killed_by", [])) if entry["status"] == "killed" else ""
            print("[%d/%d] %-8s L%-4d %-8s %s%s" % (k, len(chosen), entry["status"], n + 1, op,
                                                   new_line.strip()[:90], detail), flush=True)
    finally:
        # A second Ctrl-C or kill must not stop the clean-up half way: it waits until the worktree is gone.
        held = {sig: signal.signal(sig, signal.SIG_IGN)
                for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
        if cluster:
            run(["ctest", "--test-dir", build, "-R", "^PgClusterStop$"], 120)
        remove_tree(tree)
        for sig, handler in held.items():
            signal.signal(sig, handler)
        lock.close()

    valid = [r for r in results if r["status"] != "invalid"]
    killed = [r for r in valid if r["status"] == "killed"]
    survivors = [r for r in valid if r["status"] == "survived"]
    rate = 100.0 * len(killed) / len(valid) if valid else 0.0
    print("mutate: %s: %d mutants (%d did not compile), %d killed, %d survived: %.1f%% killed" %
          (rel, len(valid), len(results) - len(valid), len(killed), len(survivors), rate))
    for r in survivors:
        print("  survived L%d %s: %s  ->  %s" % (r["line"], r["op"], r["from"].strip(), r["to"].strip()))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"file": rel, "label": label, "mutants": results}, f, indent=1)


def report(paths):
    kills, solo = {}, {}
    print("%-40s %8s %7s %7s" % ("file", "mutants", "killed", "rate"))
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        valid = [m for m in data["mutants"] if m["status"] != "invalid"]
        killed = [m for m in valid if m["status"] == "killed"]
        print("%-40s %8d %7d %6.1f%%" % (data["file"], len(valid), len(killed),
                                         100.0 * len(killed) / len(valid) if valid else 0.0))
        for m in killed:
            for test in m["killed_by"]:
                kills[test] = kills.get(test, 0) + 1
            if len(m["killed_by"]) == 1:
                solo[m["killed_by"][0]] = solo.get(m["killed_by"][0], 0) + 1
    print("\n%-100s %6s %6s" % ("test", "kills", "alone"))
    for test in sorted(kills, key=lambda t: (-solo.get(t, 0), -kills[t], t)):
        print("%-100s %6d %6d" % (test[:100], kills[test], solo.get(test, 0)))


def on_terminate(signum, frame):
    # A plain kill or a closed terminal must still remove the worktree: unwind as Ctrl-C does.
    raise KeyboardInterrupt


def main():
    signal.signal(signal.SIGTERM, on_terminate)
    signal.signal(signal.SIGHUP, on_terminate)
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("source", nargs="?", help="the source file to mutate")
    parser.add_argument("-L", "--label", action="append", default=[],
                        help="ctest label regex of the tests to run; given more than once, tests of any")
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutate"),
                        help="build directory; the worktree is DIR-tree")
    parser.add_argument("--max", type=int, default=0, help="check at most N mutants, spread over the file")
    parser.add_argument("--json", help="write every mutant and its killers to this file")
    parser.add_argument("--report", nargs="+", metavar="RESULT", help="summarise --json results")
    parser.add_argument("--list", action="store_true", help="only list the mutants of SOURCE")
    args = parser.parse_args()
    if args.report:
        report(args.report)
    elif args.source and args.list:
        with open(args.source) as f:
            lines = f.read().splitlines(keepends=True)
        every = mutants_of(lines)
        for index in pick(every, args.max):
            n, op, new_line = every[index]
            print("L%-4d %-8s %s" % (n + 1, op, new_line.strip()))
    elif args.source:
        check(args)
    else:
        parser.error("name a source file, or --report results")


if __name__ == "__main__":
    main()
