# Fixtures for tests/io/delimited_test.cpp: one small data frame written by R's three usual
# writers, and the values the reader must find in each. Run from the repository root:
#   Rscript tests/reference/io_delimited.R
frame <- data.frame(
  x = c(1.5, NA, -2.25, 1e-3, 123456.7),
  n = c(1L, 2L, NA, 16777217L, 5L),
  f = factor(c("b", "a, c", NA, "say \"hi\"", "b")),
  s = c("NA", "x", "", "y", "z"),
  d = as.Date(c("2020-01-01", NA, "1960-01-01", "1959-12-31", "2000-02-29")),
  stringsAsFactors = FALSE
)
dir <- "tests/io/fixtures"
write.csv(frame, file.path(dir, "r_write_csv.csv"), row.names = FALSE)
write.csv2(frame, file.path(dir, "r_write_csv2.csv"), row.names = FALSE)
# Quotes inside texts doubled, as RFC 4180 has it (write.table's default escapes them with a
# backslash, which the reader keeps as written).
write.table(frame, file.path(dir, "r_write_table.tsv"), sep = "\t", row.names = FALSE,
            qmethod = "double")

# Expected: numbers as single precision would hold them, texts sorted in byte order, dates as
# days since 1960-01-01.
cat("x:", format(frame$x, digits = 9), "\n")
cat("n:", frame$n, "\n")
cat("f texts:", sort(unique(as.character(frame$f[!is.na(frame$f)])), method = "radix"), sep = " | ")
cat("\nf:", as.character(frame$f), "\n")
cat("s texts:", sort(unique(frame$s[frame$s != ""]), method = "radix"), sep = " | ")
cat("\nd:", as.numeric(frame$d - as.Date("1960-01-01")), "\n")
