# Reference values for tests/golden/mcunit_published: the ordinal fits of two published data
# sets, MASS::housing (grouped counts, three links) and ordinal::wine (a factor response with
# five levels). Writes the data files of tests/golden/mcunit_published.files first.
# Run from the repository root: Rscript tests/reference/mcunit_published.R
#
# clm fits P(Y <= j) = F(theta_j - x'beta) with the first level of each factor as reference;
# the transcript codes every factor in reverse (R's reference level is KORW's last, aliased
# level), so KORW's CONSTANT = theta_(K-1), its factor parameters are -beta and
# ALPHAj = theta_j - theta_(K-1).
suppressMessages(library(MASS))
suppressMessages(library(ordinal))
options(digits = 10)
dir <- "tests/golden/mcunit_published.files"

korw <- function(m) {
  K <- length(m$alpha) + 1
  th <- m$alpha; b <- m$beta; V <- vcov(m); nt <- names(th); nb <- names(b)
  est <- c(th[K - 1], -b, th[-(K - 1)] - th[K - 1])
  se <- c(sqrt(V[nt[K - 1], nt[K - 1]]), sqrt(diag(V)[nb]),
          sapply(nt[-(K - 1)], function(t) sqrt(V[t, t] + V[nt[K - 1], nt[K - 1]] - 2 * V[t, nt[K - 1]])))
  print(cbind(estimate = est, sd = se))
  cat("-2log(Likelihood) =", format(-2 * m$logLik, nsmall = 4), "\n")
}
tests <- function(O, E, df) {
  G2 <- 2 * sum(ifelse(O > 0, O * log(O / E), 0)); X2 <- sum((O - E)^2 / E)
  cat("-2log(Q) =", G2, pchisq(G2, df, lower.tail = FALSE), " Pearson =", X2,
      pchisq(X2, df, lower.tail = FALSE), " df =", df, "\n")
}

# housing: 24 covariate patterns, counts of low, medium and high satisfaction.
w <- reshape(housing, idvar = c("Infl", "Type", "Cont"), timevar = "Sat", direction = "wide")
h <- data.frame(infl = as.integer(w$Infl), type = as.integer(w$Type), cont = as.integer(w$Cont),
                low = w$Freq.Low, medium = w$Freq.Medium, high = w$Freq.High)
write.table(h, file.path(dir, "housing.dat"), row.names = FALSE, col.names = FALSE)
for (link in c("logit", "probit", "cloglog")) {
  cat("\n==== housing, link", link, "\n")
  m <- clm(Sat ~ Infl + Type + Cont, weights = Freq, data = housing, link = link,
           control = list(gradTol = 1e-12))
  korw(m)
  O <- as.matrix(h[, 4:6])
  E <- predict(m, newdata = w[, c("Infl", "Type", "Cont")], type = "prob")$fit * rowSums(O)
  tests(O, E, 24 * 1 + 24 - 8)
  print(round(E[1:3, ], 3))
}

# wine: 72 ratings on five levels against temperature and contact.
write.table(data.frame(as.integer(wine$rating), as.integer(wine$temp), as.integer(wine$contact)),
            file.path(dir, "wine.dat"), row.names = FALSE, col.names = FALSE)
d <- wine
d$temp <- factor(d$temp, levels = rev(levels(d$temp)))
d$contact <- factor(d$contact, levels = rev(levels(d$contact)))
cat("\n==== wine, link logit\n")
m <- clm(rating ~ temp + contact, data = d, link = "logit", control = list(gradTol = 1e-12))
korw(m)
P <- predict(m, newdata = d[, c("temp", "contact")], type = "prob")$fit
tests(model.matrix(~ rating - 1, d), P, 72 * 3 + 72 - 6)
print(round(P[1:2, ], 3))
