# Files KORW exports, read back in R: R writes a CSV file, KORW imports it and exports it again
# as CSV, TSV, Stata and SPSS files, and R reads those back with the same values, levels and
# missing values. Run by hand: Rscript tests/reference/io_roundtrip.R build/korw
# (needs r-cran-haven). Prints "all equal" or stops at the first difference.
args <- commandArgs(trailingOnly = TRUE)
korw <- normalizePath(if (length(args) > 0) args[1] else "build/korw")
suppressPackageStartupMessages(library(haven))
dir <- tempfile("korw_io")
dir.create(dir)
setwd(dir)

set.seed(2026)
n <- 500
# Values single precision holds exactly and R writes exactly (15 digits), so the comparison can
# be exact; the extremes of single precision are checked bit for bit by the unit tests.
x <- round(rnorm(n) * 1024) / 64
x[sample(n, 20)] <- NA
big <- c(1e10, 0.5^20, 16777216, -0.5, rep(1, n - 4))
town <- sample(c("Oslo", "New York, NY", "say \"hi\"", "NA", ""), n, replace = TRUE)
group <- sample(1:3, n, replace = TRUE)
d <- data.frame(x = x, big = big, town = town, group = group, stringsAsFactors = FALSE)
write.csv(d, "in.csv", row.names = FALSE, na = "")

run <- paste("IMPORT in.csv", "EXPORT out.csv", "EXPORT out.tsv", "EXPORT out.dta",
             "EXPORT out.sav", sep = "\n")
out <- system2(korw, c("--batch", "--yes", "-"), input = run, stdout = TRUE, stderr = TRUE)
stopifnot(is.null(attr(out, "status")))

# The texts come back as texts; the empty text and R's "NA" text are missing values in a CSV
# file written with na = "" and read by KORW ("NA" unquoted is a missing text).
want_town <- ifelse(town == "" , NA, town)
# Numbers are compared as single-precision values: a text file holds the shortest text that
# gives the same single-precision value, which R reads as a double near it.
f32 <- function(v) readBin(writeBin(as.numeric(v), raw(), size = 4), "double", size = 4, n = length(v))
check <- function(name, got_x, got_big, got_town, got_group) {
    if (!identical(f32(got_x), f32(x))) stop(name, ": x differs")
    if (!identical(f32(got_big), f32(big))) stop(name, ": big differs")
    if (!identical(as.character(got_town), want_town)) stop(name, ": town differs")
    if (!isTRUE(all.equal(as.numeric(got_group), as.numeric(group)))) stop(name, ": group differs")
    cat(name, "equal\n")
}
c1 <- read.csv("out.csv", stringsAsFactors = FALSE, na.strings = "")
check("csv", c1$X, c1$BIG, c1$TOWN, c1$GROUP)
c2 <- read.delim("out.tsv", stringsAsFactors = FALSE, na.strings = "")
check("tsv", c2$X, c2$BIG, c2$TOWN, c2$GROUP)
s1 <- read_dta("out.dta")
check("dta", as.numeric(s1$X), as.numeric(s1$BIG), as.character(as_factor(s1$TOWN)), s1$GROUP)
s2 <- read_sav("out.sav")
check("sav", as.numeric(s2$X), as.numeric(s2$BIG), as.character(as_factor(s2$TOWN)), s2$GROUP)
cat("all equal\n")
