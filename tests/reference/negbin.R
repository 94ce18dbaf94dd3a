# Reference values for tests/golden/negbin.out: the negative binomial fits of
# tests/golden/negbin.files/negbin.dat. Run from the repository root: Rscript tests/reference/negbin.R
#
# KORW's model has mean k e^eta with k = alpha (alpha * w with weights), so R's theta is alpha and
# R's intercept is KORW's CONSTANT + log(alpha). Standard deviations are those of the joint
# information of (formula parameters, alpha), taken here from a numerical Hessian of the
# log-likelihood written with lgamma.
suppressMessages(library(MASS))
d <- read.table("tests/golden/negbin.files/negbin.dat", col.names = c("y", "g", "x", "w"))
d$g <- relevel(factor(d$g), ref = "3")
X <- model.matrix(~ g + x, d)
loglik <- function(par, w) {
  b <- par[-length(par)]; a <- par[length(par)]; k <- a * w; eta <- drop(X %*% b)
  sum(lgamma(d$y + k) - lgamma(k) - lgamma(d$y + 1) + eta * d$y - (k + d$y) * log1p(exp(eta)))
}
gradient <- function(par, w) {
  b <- par[-length(par)]; a <- par[length(par)]; k <- a * w; eta <- drop(X %*% b)
  p <- plogis(eta)
  c(drop(crossprod(X, d$y - (k + d$y) * p)),
    sum((digamma(d$y + k) - digamma(k) - log1p(exp(eta))) * w))
}
report <- function(par, w) {
  h <- optimHess(par, loglik, gradient, w = w, control = list(fnscale = -1))
  sd <- sqrt(diag(solve(-h)))
  print(cbind(estimate = par, sd = sd, U = par / sd, P = 2 * pnorm(-abs(par / sd))), digits = 9)
  cat("-2log(Likelihood) =", format(-2 * loglik(par, w), nsmall = 4), "\n")
}

# Without weights: glm.nb, mapped.
m <- glm.nb(y ~ g + x, d, control = glm.control(epsilon = 1e-12, maxit = 100))
b <- coef(m); b[1] <- b[1] - log(m$theta)
par <- c(b, alpha = m$theta)
report(par, rep(1, nrow(d)))
cat("R's -2 log likelihood:", -m$twologlik, "\n")
mu <- fitted(m)
print(head(cbind(y = d$y, fitted = mu, residual = d$y - mu,
                 normed = (d$y - mu) / sqrt(mu * (1 + mu / m$theta))), 12), digits = 6)

# With weights (shape alpha * w): the same likelihood maximised by optim.
# alpha enters as log(alpha), so that no step of the search leaves alpha > 0.
logscale <- function(t, w) loglik(c(t[-length(t)], exp(t[length(t)])), w)
o <- optim(c(par[-length(par)], log(par[length(par)])), logscale, w = d$w, method = "BFGS",
           control = list(fnscale = -1, reltol = 1e-16, maxit = 1000))
o$par[length(par)] <- exp(o$par[length(par)]); names(o$par) <- names(par)
# Newton steps on the gradient polish the optimum to the printed digits.
for (i in 1:3) {
  h <- optimHess(o$par, loglik, gradient, w = d$w, control = list(fnscale = -1))
  o$par <- o$par - drop(solve(h, gradient(o$par, d$w)))
}
report(o$par, d$w)
cat("gradient at the optimum:", gradient(o$par, d$w), "\n")

# Without weights, on the units 1..30 only (the others excluded).
keep <- 1:30
m30 <- glm.nb(y ~ g + x, d[keep, ], control = glm.control(epsilon = 1e-12, maxit = 100))
cat("units 1..30: theta", m30$theta, " -2 log likelihood", -m30$twologlik, "\n")
print(coef(m30) - c(log(m30$theta), 0, 0, 0), digits = 6)
