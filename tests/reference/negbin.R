# Reference values for tests/golden/negbin.out and tests/special/negbin_test.cpp: the negative
# binomial fits of tests/golden/negbin.files. Run from the repository root:
#   Rscript tests/reference/negbin.R
#
# KORW's model has mean k e^eta with k = alpha (alpha * w with weights), so R's theta is alpha and
# R's intercept is KORW's CONSTANT + log(alpha). Standard deviations are those of the joint
# information of (formula parameters, alpha), from a Hessian of the log-likelihood (central
# differences of its gradient, with steps small beside each parameter).
suppressMessages(library(MASS))
d <- read.table("tests/golden/negbin.files/negbin.dat", col.names = c("y", "g", "x", "w"))
d$g <- relevel(factor(d$g), ref = "3")

loglik <- function(par, X, y, w) {
  b <- par[-length(par)]; k <- par[length(par)] * w; eta <- drop(X %*% b)
  sum(lgamma(y + k) - lgamma(k) - lgamma(y + 1) + eta * y - (k + y) * log1p(exp(eta)))
}
gradient <- function(par, X, y, w) {
  b <- par[-length(par)]; k <- par[length(par)] * w; eta <- drop(X %*% b)
  c(drop(crossprod(X, y - (k + y) * plogis(eta))),
    sum((digamma(y + k) - digamma(k) - log1p(exp(eta))) * w))
}
report <- function(par, X, y, w) {
  h <- optimHess(par, loglik, gradient, X = X, y = y, w = w,
                 control = list(fnscale = -1, ndeps = 1e-5 * pmax(abs(par), 1e-3)))
  sd <- sqrt(diag(solve(-h)))
  print(cbind(estimate = par, sd = sd, U = par / sd, P = 2 * pnorm(-abs(par / sd))), digits = 9)
  cat("-2log(Likelihood) =", format(-2 * loglik(par, X, y, w), nsmall = 4), "\n")
}
# glm.nb mapped to KORW's parameters.
mapped <- function(m) {
  b <- coef(m); b[1] <- b[1] - log(m$theta)
  c(b, alpha = m$theta)
}
# The weighted likelihood maximised directly: alpha enters optim as log(alpha), so that no
# step of the search leaves alpha > 0; Newton steps on the gradient then polish the optimum.
weighted <- function(start, X, y, w) {
  n <- length(start)
  f <- function(t) loglik(c(t[-n], exp(t[n])), X, y, w)
  o <- optim(c(start[-n], log(start[n])), f, method = "BFGS",
             control = list(fnscale = -1, reltol = 1e-16, maxit = 1000))
  par <- c(o$par[-n], exp(o$par[n])); names(par) <- names(start)
  for (i in 1:3) {
    h <- optimHess(par, loglik, gradient, X = X, y = y, w = w, control = list(fnscale = -1))
    par <- par - drop(solve(h, gradient(par, X, y, w)))
  }
  par
}
control <- glm.control(epsilon = 1e-12, maxit = 100)

cat("FITNEGBIN y=1+g+x\n")
X <- model.matrix(~ g + x, d)
m <- glm.nb(y ~ g + x, d, control = control)
report(mapped(m), X, d$y, 1)
mu <- fitted(m)
print(cbind(y = d$y, fitted = mu, residual = d$y - mu,
            normed = (d$y - mu) / sqrt(mu * (1 + mu / m$theta))), digits = 6)

cat("FITNEGBIN y=1+g+x/w\n")
report(weighted(mapped(m), X, d$y, d$w), X, d$y, d$w)

cat("FITNEGBIN y=1+g/w\n")
X1 <- model.matrix(~ g, d)
m1 <- glm.nb(y ~ g, d, control = control)
report(weighted(mapped(m1), X1, d$y, d$w), X1, d$y, d$w)

cat("FITNEGBIN y=1+g+x on units 1..30\n")
s <- d[1:30, ]
m30 <- glm.nb(y ~ g + x, s, control = control)
report(mapped(m30), model.matrix(~ g + x, s), s$y, 1)
print(cbind(fitted = fitted(m30)), digits = 6)

cat("FITNEGBIN c=1 with the counts 3 65535 5 2 0 7\n")
c6 <- c(3, 65535, 5, 2, 0, 7)
m6 <- glm.nb(c6 ~ 1, control = control)
report(mapped(m6), matrix(1, 6, 1), c6, 1)

cat("FITNEGBIN c=1 with the counts 3 5 2 0 7\n")
c5 <- c(3, 5, 2, 0, 7)
m5 <- glm.nb(c5 ~ 1, control = control)
report(mapped(m5), matrix(1, 5, 1), c5, 1)
