# Reference values of the COMPUTE tests (tests/compute/evaluate_test.cpp).
# PHIINV(0.975) and PHI(0):
print(qnorm(0.975), digits = 10)  # 1.959963985
print(pnorm(0))                   # 0.5
# Poisson draws are checked by their mean and variance, which both equal lambda.
