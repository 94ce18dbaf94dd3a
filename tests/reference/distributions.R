# Reference values for tests/distr/distributions_test.cpp: upper tails and quantiles from R,
# written as tests/distr/reference_grid.txt (kind, df1, df2, x, value). Run from the tests
# directory: Rscript reference/distributions.R
tails <- c(0.5, 0.1, 1e-2, 1e-5, 1e-10, 1e-20, 1e-50, 1e-100, 1e-200, 1e-300)
dfs <- c(1, 2, 3, 4, 5, 7, 10, 20, 30, 39, 40, 41, 50, 100, 101, 200, 499, 500, 501, 999, 1000)
out <- file("distr/reference_grid.txt", "w")
row <- function(kind, d1, d2, x, v) cat(kind, d1, d2, sprintf("%.17g", x), sprintf("%.17g", v), "\n", file=out)
for (p in tails) {
  x <- qnorm(p, lower.tail=FALSE); row("pnorm", 0, 0, x, pnorm(x, lower.tail=FALSE))
  row("pnorm", 0, 0, -x, pnorm(-x, lower.tail=FALSE))
  for (n in dfs) {
    x <- qchisq(p, n, lower.tail=FALSE); if (is.finite(x)) row("pchisq", n, 0, x, pchisq(x, n, lower.tail=FALSE))
    x <- qt(p, n, lower.tail=FALSE); if (is.finite(x) && p > 1e-100) row("pt", n, 0, x, pt(x, n, lower.tail=FALSE))
  }
  for (m in c(1, 2, 5, 10, 30, 100, 1000)) for (n in c(1, 3, 10, 40, 100, 1000)) {
    x <- qf(p, m, n, lower.tail=FALSE); if (is.finite(x) && p > 1e-100) row("pf", m, n, x, pf(x, m, n, lower.tail=FALSE))
  }
}
for (p in c(0.5, 0.25, 0.1, 0.05, 0.025, 0.01, 1e-3, 1e-5, 1e-8, 0.9, 0.99)) {
  row("qnorm", 0, 0, p, qnorm(p, lower.tail=FALSE))
  for (n in dfs) row("qchisq", n, 0, p, qchisq(p, n, lower.tail=FALSE))
}
close(out)
