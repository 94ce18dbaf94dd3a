# Reference values for the conditional logit and Rasch fits: tests/golden/clogit.out and
# tests/special/clogit_test.cpp. Writes the data files of tests/golden/clogit.files first.
# Run from the repository root: Rscript tests/reference/clogit.R
library(survival)
dir <- "tests/golden/clogit.files"

# Matched groups of 2 to 5 units with one or two cases each, then a group of controls only, a
# group of one unit and a group of cases only (these three carry no information).
set.seed(17)
ng <- 30
sizes <- sample(2:5, ng, replace = TRUE)
g <- rep(1:ng, sizes)
x1 <- round(rnorm(length(g)), 2)
x2 <- sample(1:3, length(g), replace = TRUE)
eta <- 0.8 * x1 + c(0, 0.5, -0.7)[x2]
y <- numeric(length(g))
for (k in 1:ng) {
  idx <- which(g == k)
  y[idx[sample(length(idx), 1, prob = exp(eta[idx]))]] <- 1
  rest <- idx[y[idx] == 0]
  if (length(rest) > 1 && runif(1) < 0.4) y[rest[sample(length(rest), 1, prob = exp(eta[rest]))]] <- 1
}
g <- c(g, 31, 31, 31, 32, 33, 33, 33)
y <- c(y, 0, 0, 0, 1, 1, 1, 1)
x1 <- c(x1, 0.5, -1.2, 2.1, 0.3, 1.1, -0.4, 0.9)
x2 <- c(x2, 1, 2, 3, 2, 3, 1, 2)
cl <- data.frame(g = g, gf = g, y = y, x1 = x1, x2 = x2)
write.table(cl, file.path(dir, "cl.dat"), row.names = FALSE, col.names = FALSE)
cat("units", nrow(cl), "\n")

m1 <- clogit(y ~ x1 + strata(g), data = cl, method = "exact")
m2 <- clogit(y ~ x1 + relevel(factor(x2), ref = "3") + strata(g), data = cl, method = "exact")
print(summary(m2)$coefficients[, c(1, 3, 4)], digits = 10)
cat("-2logL y = x1:", format(-2 * m1$loglik[2], digits = 10),
    " y = x1 + x2:", format(-2 * m2$loglik[2], digits = 10), "\n")
cat("-2log(Q):", format(2 * (m2$loglik[2] - m1$loglik[2]), digits = 10), " P:",
    format(pchisq(2 * (m2$loglik[2] - m1$loglik[2]), 2, lower.tail = FALSE), digits = 10), "\n")
print(summary(m1)$coefficients[, c(1, 3, 4)], digits = 10)

# Binomial totals: 12 groups of 3 units with 1 to 6 trials each; R sees every trial as a unit.
set.seed(5)
bg <- rep(1:12, each = 3)
bn <- sample(1:6, 36, replace = TRUE)
bx <- round(runif(36, -1, 1), 2)
bs <- rbinom(36, bn, plogis(-0.3 + 1.2 * bx + rep(rnorm(12), each = 3)))
bin <- data.frame(g = bg, s = bs, n = bn, x = bx)
write.table(bin, file.path(dir, "bin.dat"), row.names = FALSE, col.names = FALSE)
long <- do.call(rbind, lapply(1:36, function(i)
  data.frame(g = bg[i], x = bx[i], y = c(rep(1, bs[i]), rep(0, bn[i] - bs[i])))))
mb <- clogit(y ~ x + strata(g), data = long, method = "exact")
print(summary(mb)$coefficients[, c(1, 3, 4)], digits = 10)
cat("-2logL binomial:", format(-2 * mb$loglik[2], digits = 10), "\n")

# Conditional Rasch model: 6 items, 150 persons; item totals and score group sizes.
set.seed(4)
k <- 6
theta <- rnorm(150)
b <- c(-1.2, -0.5, 0, 0.3, 0.8, 1.4)
X <- matrix(rbinom(150 * k, 1, plogis(outer(theta, b, "-"))), 150)
tot <- colSums(X)
nr <- tabulate(rowSums(X), k)
write.table(data.frame(tot, nr), "tests/golden/clogit_rasch.files/rasch.dat", row.names = FALSE, col.names = FALSE)
# The conditional likelihood with the last item's parameter 0, maximised directly ...
esf <- function(w) {
  g <- c(1, rep(0, length(w)))
  for (i in seq_along(w)) g[2:(i + 1)] <- g[2:(i + 1)] + w[i] * g[1:i]
  g
}
loglik <- function(beta) {
  eta <- c(beta, 0)
  sum(tot * eta) - sum(nr * log(esf(exp(eta))[-1]))
}
# dl/deta_i = T_i - sum_r N_r w_i gamma_(r-1)(items other than i) / gamma_r
score <- function(eta) {
  w <- exp(eta)
  gam <- esf(w)[-1]
  sapply(seq_along(w), function(i) tot[i] - sum(nr * w[i] * esf(w[-i])[1:k] / gam))
}
fit <- optim(rep(0, k - 1), function(b) -loglik(b), function(b) -score(c(b, 0))[-k],
             method = "BFGS", control = list(reltol = 1e-16, maxit = 1000))
h <- optimHess(fit$par, function(b) -loglik(b), function(b) -score(c(b, 0))[-k])
print(cbind(estimate = fit$par, sd = sqrt(diag(solve(h)))), digits = 10)
cat("-2logL Rasch:", format(2 * fit$value, digits = 10), "\n")
# ESTIMATE item: the standard deviations of the contrasts item 1 - item 2 and item 3 - item 5.
v <- solve(h)
cat("sd 1-2:", format(sqrt(v[1, 1] + v[2, 2] - 2 * v[1, 2]), digits = 10),
    " sd 3-5:", format(sqrt(v[3, 3] + v[5, 5] - 2 * v[3, 5]), digits = 10), "\n")
# ... and by eRm, which fixes the first item: the items reversed.
if (requireNamespace("eRm", quietly = TRUE)) {
  r <- eRm::RM(X[, k:1], sum0 = FALSE)
  print(rbind(eRm = rev(r$betapar), sd = rev(r$se.beta)), digits = 8)
  cat("-2logL eRm:", format(-2 * r$loglik, digits = 10), "\n")
}
# Item difficulties as a linear function of a variate d = 1..6 (a linear logistic test model).
d <- 1:k
lltmLoglik <- function(b) sum(tot * b * d) - sum(nr * log(esf(exp(b * d))[-1]))
lltmScore <- function(b) sum(d * score(b * d))
lltm <- optim(0, function(b) -lltmLoglik(b), function(b) -lltmScore(b), method = "BFGS",
              control = list(reltol = 1e-16))
cat("LLTM estimate", format(lltm$par, digits = 10), " sd",
    format(sqrt(1 / optimHess(lltm$par, function(b) -lltmLoglik(b), function(b) -lltmScore(b))),
           digits = 10), " -2logL", format(2 * lltm$value, digits = 10), "\n")
