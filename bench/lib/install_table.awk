# The install benchmark's figures of each Windows build side by side: one input file per
# build (install_bench.sh's output), named in the header by the variable `names` (space
# separated, in the order of the files). A figure a run did not give shows why: "failed"
# where its client said it failed, "-" where the part was not run.
function value(line,   i, n, w) {
    n = split(line, w, " ")
    for (i = 2; i <= n; i++) if (w[i] == "MB/s") return w[i - 1]
    return ""
}
function keep(key, line) { if (!((FILENAME, key) in fig)) fig[FILENAME, key] = value(line) }
FNR == 1 { files[++nf] = FILENAME }
/^text: fresh install/ { keep("text", $0) }
/^framed: fresh install/ { keep("framed", $0) }
/^web: fresh install/ { keep("web", $0) }
/^text: no-change refresh/ { keep("refresh", $0) }
/^text, signed: no-change refresh/ { keep("signed", $0) }
/^anchor\+fsync:/ { keep("anchor", $0) }
/^https-anchor\+fsync:/ { keep("https", $0) }
/^client failed:/ { failed[FILENAME] = 1 }
function cell(f, key,   v) {
    v = fig[f, key]
    if (v != "") return v " MB/s"
    return failed[f] ? "failed" : "-"
}
function ratio(f, a, b) {
    if (fig[f, a] > 0 && fig[f, b] > 0) return sprintf("%.2f", fig[f, a] / fig[f, b])
    return failed[f] ? "failed" : "-"
}
END {
    split(names, name, " ")
    printf "%-46s", "install benchmark, medians"
    for (i = 1; i <= nf; i++) printf " | %-14s", name[i]
    printf "\n"
    row("text install", "text"); row("framed install", "framed"); row("web (HTTPS) install", "web")
    row("no-change refresh, size + CRC-32", "refresh"); row("no-change refresh with a key (SHA-256)", "signed")
    row("anchor: curl+fsync from nginx", "anchor"); row("anchor: curl+fsync over HTTPS", "https")
    rrow("text / curl+fsync (goal 0.9)", "text", "anchor"); rrow("framed / curl+fsync (goal 0.9)", "framed", "anchor")
    rrow("web / curl+fsync over HTTPS (goal 0.9)", "web", "https")
    rrow("signed / unsigned refresh time (goal 2)", "refresh", "signed")
}
function row(title, key,   i) {
    printf "%-46s", title
    for (i = 1; i <= nf; i++) printf " | %-14s", cell(files[i], key)
    printf "\n"
}
function rrow(title, a, b,   i) {
    printf "%-46s", title
    for (i = 1; i <= nf; i++) printf " | %-14s", ratio(files[i], a, b)
    printf "\n"
}
