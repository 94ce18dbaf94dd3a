# Reference values for the ordinal (McCullagh) fits of tests/golden/mcunit.kor and
# tests/special/mcunit_test.cpp. Run from the repository root: Rscript tests/reference/mcunit.R
#
# ordinal::clm fits P(Y <= j) = F(theta_j - x'beta); KORW fits P(Y <= j) = F(eta + alpha_j) with
# eta = CONSTANT + x'b and alpha_(K-1) = 0. So CONSTANT = theta_(K-1), b = -beta and
# ALPHAj = theta_j - theta_(K-1). Both use the complementary log-log F(x) = 1 - exp(-exp(x)).
# The factor G enters KORW with G[2] aliased (set to zero), which is R's model with level 2 as
# the reference level.
suppressMessages(library(ordinal))
options(digits = 10)

korw <- function(m) {
  K <- length(m$alpha) + 1
  th <- m$alpha; b <- m$beta; V <- vcov(m)
  nt <- names(th); nb <- names(b)
  est <- c(th[K - 1], -b, th[-(K - 1)] - th[K - 1])
  se <- c(sqrt(V[nt[K - 1], nt[K - 1]]), sqrt(diag(V)[nb]), if (K > 2)
          sapply(nt[-(K - 1)], function(t) sqrt(V[t, t] + V[nt[K - 1], nt[K - 1]] - 2 * V[t, nt[K - 1]])))
  names(est) <- c("CONSTANT", nb, if (K > 2) paste0("ALPHA", seq_len(K - 2)))
  print(cbind(estimate = est, sd = se, U = est / se))
  cat("-2log(Likelihood) =", format(-2 * m$logLik, nsmall = 4), "\n")
}

# KORW stores variates in single precision: x is rounded the same way here.
single <- function(v) readBin(writeBin(v, raw(), size = 4), "double", size = 4, n = length(v))
d <- read.table("tests/golden/mcunit.files/ordinal.dat", col.names = c("y", "g", "x"))
d$x <- single(d$x)
d$y <- factor(d$y, ordered = TRUE)
d$g <- relevel(factor(d$g), ref = "2")
for (link in c("logit", "probit", "cloglog")) {
  cat("\n==== individual, link", link, "\n")
  m <- clm(y ~ x + g, data = d, link = link, control = list(gradTol = 1e-12))
  korw(m)
  # Goodness of fit against the saturated model (one probability per unit and category).
  P <- predict(m, newdata = d[, c("x", "g")], type = "prob")$fit
  O <- model.matrix(~ y - 1, d)
  G2 <- 2 * sum(O * log(ifelse(O > 0, O / P, 1))); X2 <- sum((O - P)^2 / P)
  cat("-2log(Q) =", G2, pchisq(G2, 85, lower.tail = FALSE), " Pearson =", X2,
      pchisq(X2, 85, lower.tail = FALSE), " df = 30 * 3 - 5\n")
  cat("fitted unit 1:", P[1, ], "\n")
}

# Grouped data: counts N1 N2 N3 at six doses, expanded to weights.
g <- read.table("tests/golden/mcunit.files/grouped.dat", col.names = c("dose", "n1", "n2", "n3"))
long <- data.frame(dose = rep(g$dose, 3), y = factor(rep(1:3, each = 6), ordered = TRUE),
                   w = c(g$n1, g$n2, g$n3))
for (link in c("logit", "probit", "cloglog")) {
  cat("\n==== grouped, link", link, "\n")
  m <- clm(y ~ dose, weights = w, data = long, link = link, control = list(gradTol = 1e-12))
  korw(m)
  P <- predict(m, newdata = data.frame(dose = g$dose), type = "prob")$fit
  O <- as.matrix(g[, 2:4]); E <- P * rowSums(O)
  G2 <- 2 * sum(O * log(O / E)); X2 <- sum((O - E)^2 / E)
  cat("-2log(Q) =", G2, pchisq(G2, 9, lower.tail = FALSE), " Pearson =", X2,
      pchisq(X2, 9, lower.tail = FALSE), "\n")
  print(round(E, 3))
}

# A two-level response is a binary regression with the same link: P(Y <= 1) = F(eta) is glm's
# probability of the first count, with the same signs. glm's standard errors come from the
# expected information; with the probit and cloglog links they differ from those of the observed
# information that KORW and clm use, so clm's are printed beside them.
for (link in c("logit", "probit", "cloglog")) {
  m <- glm(cbind(n1 + n2, n3) ~ dose, family = binomial(link = link), data = g)
  cat("\n==== binary (N1+N2, N3), link", link, "\n")
  p <- fitted(m)  # without the binomial coefficients, as the multinomial likelihood
  print(summary(m)$coef[, 1:2])
  cat("-2log(Likelihood) =", -2 * sum((g$n1 + g$n2) * log(p) + g$n3 * log(1 - p)), "\n")
  b <- data.frame(dose = rep(g$dose, 2), y = factor(rep(1:2, each = 6), ordered = TRUE),
                  w = c(g$n1 + g$n2, g$n3))
  korw(clm(y ~ dose, weights = w, data = b, link = link, control = list(gradTol = 1e-12)))
}

# The factor Z = 1 + (Y > 2) with the logit link: P(Z = 1) = F(eta) is glm's probability of
# Y <= 2, so KORW's estimates are glm's of (Y > 2) with the signs changed.
m <- glm(as.numeric(y) > 2 ~ x + g, family = binomial, data = d)
cat("\n==== binary factor Z, logit (signs to change)\n")
print(summary(m)$coef[, 1:2]); cat("-2log(Likelihood) =", deviance(m), "\n")
P <- fitted(m); zz <- as.numeric(d$y) > 2
X2 <- sum((zz - P)^2 / P + ((1 - zz) - (1 - P))^2 / (1 - P))
cat("Pearson =", X2, pchisq(X2, 27, lower.tail = FALSE), " -2log(Q) p =",
    pchisq(deviance(m), 27, lower.tail = FALSE), "\n")

# Seven categories at the six doses (the counts COMPUTEd in tests/golden/mcunit.kor).
dose <- 1:6
C <- cbind(13 - 2 * dose, 8 - dose, 5, 3 + dose, 2 + dose, 1 + 2 * dose, 3 * dose)
long <- data.frame(dose = rep(dose, 7), y = factor(rep(1:7, each = 6), ordered = TRUE),
                   w = as.vector(C))
cat("\n==== seven categories, logit\n")
m <- clm(y ~ dose, weights = w, data = long, link = "logit", control = list(gradTol = 1e-12))
korw(m)
E <- predict(m, newdata = data.frame(dose = dose), type = "prob")$fit * rowSums(C)
G2 <- 2 * sum(C * log(C / E)); X2 <- sum((C - E)^2 / E)
cat("-2log(Q) =", G2, pchisq(G2, 29, lower.tail = FALSE), " Pearson =", X2,
    pchisq(X2, 29, lower.tail = FALSE), "\n")
print(round(E, 3))
