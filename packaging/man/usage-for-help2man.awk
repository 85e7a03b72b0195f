# Rewrites the usage block of a program's --help the way help2man reads a
# synopsis: "Usage:" capitalised, a second form of the command as an "or:"
# line (its explanation column dropped), and indented continuations of one
# form joined to it. Everything
# after the first blank line passes unchanged. Variable: prog.
BEGIN { inUsage = 0; held = "" }
function flush() { if (held != "") print held; held = "" }
{
  if (!inUsage && held == "" && $0 ~ /^[Uu]sage:/) {
    inUsage = 1
    sub(/^usage:/, "Usage:")
    held = $0
    next
  }
  if (inUsage && $0 ~ /^[ \t]+[^ \t]/) {
    line = $0
    sub(/^[ \t]+/, "", line)
    if (index(line, prog " ") == 1 || line == prog) {
      sub(/  +.*/, "", line)
      if (held == "Usage:") {
        held = "Usage: " line
      } else {
        flush()
        held = "  or: " line
      }
    } else {
      held = held " " line
    }
    next
  }
  inUsage = 0
  flush()
  print
}
END { flush() }
