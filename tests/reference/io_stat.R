# Fixtures for tests/io/stat_files_test.cpp: small Stata, SPSS and SAS transport files written by
# haven, and the values KORW must read from them. Run from the repository root:
#   Rscript tests/reference/io_stat.R
# It rewrites tests/io/fixtures/stat.{dta,sav,xpt} and prints what each column holds.
suppressMessages(library(haven))
out <- "tests/io/fixtures"

num <- c(1.5, NA, -2.25, 16777217)  # 16777217 is the first integer a float cannot hold
lab <- labelled(c(1, 2, 3, NA), c(One = 1, Three = 3))
odd <- labelled(c(0, -1, 99, 0), c(None = 0, Neg = -1))
frac <- labelled(c(0.5, 1, NA, 0.5), c(Half = 0.5))
str <- c("b", "", "a", "b")
day <- as.Date(c("1960-01-01", "2000-02-29", NA, "1959-12-31"))
stamp <- as.POSIXct(c("1960-01-01 12:00:00", "2000-02-29 06:00:00", "1959-12-31 18:00:00", NA),
                    tz = "UTC")

# A vector KORW writes under another name keeps its own name as the variable label.
coxint <- function(x) { attr(x, "label") <- "#COXINT"; x }

dta <- data.frame(NUM = num, STR = str, DAY = day, STAMP = stamp)
dta$LAB <- lab; dta$ODD <- odd  # Stata labels only integers
dta$TAG <- c(1, tagged_na("a"), 3, NA)
dta$`_COXINT` <- coxint(c(7, 8, 9, 10))
write_dta(dta, file.path(out, "stat.dta"), version = 14)

sav <- data.frame(NUM = num, STR = str, DAY = day, STAMP = stamp)
sav$LAB <- lab; sav$ODD <- odd; sav$FRAC <- frac
sav$UM <- labelled_spss(c(1, 9, 2, 95), c(Yes = 1, No = 2, Refused = 9), na_values = 9,
                        na_range = c(90, 100))
sav$UMN <- labelled_spss(c(1.5, -9, 100, 2), na_values = -9, na_range = c(100, Inf))
sav$V_COXINT <- coxint(c(7, 8, 9, 10))
write_sav(sav, file.path(out, "stat.sav"))

xpt <- data.frame(NUM = num, STR = str, DAY = day, STAMP = stamp)
xpt$`_COXINT` <- coxint(c(7, 8, 9, 10))
write_xpt(xpt, file.path(out, "stat.xpt"), version = 8)

# What the reader must give: dates as days since 1960-01-01, times adding their fraction of a day.
cat("NUM  ", format(num, digits = 9), "\n")
cat("DAY  ", as.numeric(day - as.Date("1960-01-01")), "\n")
cat("STAMP", as.numeric(difftime(stamp, as.POSIXct("1960-01-01", tz = "UTC"), units = "days")),
    "\n")
cat("SPSS day offset (1582-10-14 to 1960-01-01):",
    as.numeric(as.Date("1960-01-01") - as.Date("1582-10-14")), "\n")
for (f in c("dta", "sav", "xpt")) {
  back <- switch(f, dta = read_dta, sav = function(p) read_sav(p, user_na = TRUE),
                 xpt = read_xpt)(file.path(out, paste0("stat.", f)))
  cat("\n", f, ":", names(back), "\n")
  formats <- sapply(back, function(x) paste(c(attr(x, "format.stata"), attr(x, "format.spss"),
                                              attr(x, "format.sas")), collapse = ""))
  print(formats)
}
