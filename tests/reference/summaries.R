# Reference values of the summaries test: units 1, 2 and 4 of x and y (unit 3 of x is missing,
# unit 5 is excluded).
x <- c(1, 2, 4)
y <- c(2, 4, 9)
cat(sprintf("%.15g %.15g %.15g\n", mean(x), var(x), cor(x, y)))
