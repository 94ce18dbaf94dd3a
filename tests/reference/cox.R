# Reference values for the Cox proportional hazards fits of tests/golden/cox.kor.
# Writes the data file tests/golden/cox.files/cox.dat (run from the repository root) and prints
# coefficients, standard deviations, -2 log partial likelihood and the integrated baseline
# intensity with its standard deviation at each unit's exit time, all with Breslow's handling of
# tied deaths.
library(survival)
set.seed(16)
n <- 40
x1 <- round(rnorm(n), 2)
x2 <- round(runif(n, 0, 2), 2)
g <- sample(1:3, n, replace = TRUE)
s <- rep(1:2, length.out = n)
rate <- exp(0.7 * x1 - 0.5 * x2 + c(0, 0.4, -0.3)[g] + c(0, 0.5)[s]) / 8
exit <- pmax(1, round(rexp(n, rate)))
entry <- pmin(exit - 1, floor(runif(n, 0, 4)))
entry[entry < 0] <- 0
status <- rbinom(n, 1, 0.75)
d <- data.frame(exit, status, entry, s, g, x1, x2)
write.table(d, "tests/golden/cox.files/cox.dat", row.names = FALSE, col.names = FALSE)
d$g <- relevel(factor(d$g), ref = "3")

show <- function(label, fit, newdata) {
  cat("\n==", label, "\n")
  print(cbind(estimate = coef(fit), sd = sqrt(diag(fit$var))), digits = 6)
  cat("-2log(Likelihood) =", sprintf("%.4f", -2 * fit$loglik[2]), "\n")
  # Integrated intensity at each unit's exit time, in its stratum, and its standard deviation.
  sf <- survfit(fit, newdata = newdata, ctype = 1)
  st <- if (is.null(sf$strata)) rep(1, length(sf$time)) else rep(seq_along(sf$strata), sf$strata)
  unit_stratum <- if (is.null(sf$strata)) rep(1, n) else d$s
  at <- sapply(seq_len(n), function(u) {
    k <- which(st == unit_stratum[u] & sf$time <= d$exit[u])
    if (length(k) == 0) c(0, 0) else c(sf$cumhaz[max(k)], sf$std.err[max(k)])
  })
  print(data.frame(unit = 1:n, exit = d$exit, int = signif(at[1, ], 5), sd = signif(at[2, ], 5)))
}
# The product X1*X2 as a column of its own: survfit() predicts no curve for an interaction term
# without its main effects, and the model is the same.
d$x12 <- d$x1 * d$x2
zero <- data.frame(x1 = 0, x2 = 0, x12 = 0, g = factor("3", levels = levels(d$g)))

show("T*D = X1 + G", coxph(Surv(exit, status) ~ x1 + g, data = d, ties = "breslow"), zero)
show("T*D-E = X1", coxph(Surv(entry, exit, status) ~ x1, data = d, ties = "breslow"), zero)
show("T*D-E/S = X1 + X2",
     coxph(Surv(entry, exit, status) ~ x1 + x2 + strata(s), data = d, ties = "breslow"), zero)
show("T*D-E/S = X1 + G + X1*X2",
     coxph(Surv(entry, exit, status) ~ x1 + g + x12 + strata(s), data = d, ties = "breslow"),
     zero)
show("T = X1 + X2", coxph(Surv(exit, rep(1, n)) ~ x1 + x2, data = d, ties = "breslow"), zero)
