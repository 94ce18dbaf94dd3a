# Reference values for tests/distr/distributions_test.cpp: upper tails and quantiles from R,
# written as tests/distr/reference_grid.txt, one line per value: kind, df1, df2, argument, value.
# For the tails the argument is R's upper quantile of each listed tail probability, so every
# kind is checked from the centre down to 1e-300. Run from the tests directory:
#   Rscript reference/distributions.R
tails <- c(0.9, 0.5, 0.1, 1e-2, 1e-3, 1e-5, 1e-8, 1e-10, 1e-12, 1e-15, 1e-18, 1e-20, 1e-25,
           1e-30, 1e-40, 1e-50, 1e-100, 1e-200, 1e-300)
dfs <- c(1:10, 15, 20, 25, 30, 39, 40, 41, 42, 50, 60, 83, 84, 100, 101, 150, 200, 300, 499, 500,
         501, 750, 999, 1000)
fnum <- c(1, 2, 3, 5, 10, 20, 21, 39, 40, 100, 1000)
fden <- c(1, 2, 3, 5, 10, 19, 20, 40, 100, 1000)
out <- file("distr/reference_grid.txt", "w")
row <- function(kind, d1, d2, x, v) {
  if (is.finite(x)) cat(kind, d1, d2, sprintf("%.17g", x), sprintf("%.17g", v), "\n", file = out)
}
for (p in tails) {
  x <- qnorm(p, lower.tail = FALSE)
  row("pnorm", 0, 0, x, pnorm(x, lower.tail = FALSE))
  row("pnorm", 0, 0, -x, pnorm(-x, lower.tail = FALSE))
  for (n in dfs) {
    x <- qchisq(p, n, lower.tail = FALSE); row("pchisq", n, 0, x, pchisq(x, n, lower.tail = FALSE))
    x <- qt(p, n, lower.tail = FALSE); row("pt", n, 0, x, pt(x, n, lower.tail = FALSE))
    row("pt", n, 0, -x, pt(-x, n, lower.tail = FALSE))
  }
  for (m in fnum) for (n in fden) {
    x <- qf(p, m, n, lower.tail = FALSE); row("pf", m, n, x, pf(x, m, n, lower.tail = FALSE))
  }
}
for (p in c(0.999, 0.99, 0.9, 0.75, 0.5, 0.25, 0.1, 0.05, 0.025, 0.01, 1e-3, 1e-5, 1e-8, 2e-9)) {
  row("qnorm", 0, 0, p, qnorm(p, lower.tail = FALSE))
}
for (p in c(0.999, 0.9, 0.5, 0.1, 0.05, 1e-3, 1e-5, 1e-8, 1e-12, 1e-20, 1e-50, 1e-100, 1e-300)) {
  for (n in dfs) row("qchisq", n, 0, p, qchisq(p, n, lower.tail = FALSE))
}
close(out)
