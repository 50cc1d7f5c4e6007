# Journeys from events: the native builder on a data frame and on a file
# (unordered, and grouped by user), next to a floor of reading and splitting
# the same file, with the peak memory each adds; and, when a PostgreSQL
# server is reachable (bench/events.sh starts one), the same events queried
# with journeys_from_db. Each size is run in turn (CPU seconds, the median
# of TOUCHLANE_BENCH_REPS runs, default 3); then, for each route, its time
# per event at the largest size over that at the smallest (1.0: linear).
# usage: bash bench/events.sh [events users ...]   (default 1,000,000 100,000 10,000,000 1,000,000)
suppressMessages(library(Touchlane))
args <- commandArgs(trailingOnly = TRUE)
peak_kb <- function() as.numeric(sub("\\D*(\\d+).*", "\\1", grep("^VmHWM", readLines("/proc/self/status"), value = TRUE)))
rss_kb <- function() as.numeric(sub("\\D*(\\d+).*", "\\1", grep("^VmRSS", readLines("/proc/self/status"), value = TRUE)))
jargs <- list(user = "user", time = "ts", channel = "channel", conversion = "conv", value = "rev",
              lookback_days = 30, transform = "none")

if (length(args) && args[1] == "child") {   # one route per process, for its own peak memory
  route <- args[2]; dir <- args[3]
  ev <- if (route %in% c("frame", "frame_text")) readRDS(file.path(dir, "events.rds"))
  if (route == "frame_text") ev$user <- paste0("customer-", ev$user)
  gc(); base <- rss_kb()
  t <- system.time(j <- suppressMessages(switch(route,
    frame = , frame_text = do.call(journeys_from_events, c(list(ev), jargs)),
    file = do.call(journeys_from_events, c(list(file = file.path(dir, "events.csv")), jargs)),
    grouped = do.call(journeys_from_events, c(list(file = file.path(dir, "grouped.csv"), grouped = TRUE), jargs)))))
  cat(sprintf("%s %.3f %.0f %d %.3f\n", route, t[["elapsed"]], (peak_kb() - base) / 1024, nrow(j),
              t[["user.self"]] + t[["sys.self"]]))
  quit(save = "no")
}

one_size <- function(n, nusers, reps) {
dir <- Sys.getenv("TOUCHLANE_BENCH_DIR", tempfile("touchlane_events", "/tmp"))
dir.create(dir, showWarnings = FALSE)
on.exit(unlink(dir, recursive = TRUE))
set.seed(1)
ev <- data.frame(id = seq_len(n), user = sample.int(nusers, n, TRUE),
                 ts = 1.7e9 + round(runif(n, 0, 90 * 86400)),
                 channel = sample(c("display", "paid search", "email", "social", "organic", "affiliate", "tv", NA),
                                  n, TRUE),
                 conv = rbinom(n, 1, 0.05))
ev$rev <- ev$conv * round(runif(n, 1, 100), 2)
saveRDS(ev, file.path(dir, "events.rds"), compress = FALSE)
write_events <- function(d, f) {
  con <- file(f, "w")
  writeLines("id;user;ts;channel;conv;rev", con)
  writeLines(sprintf("%d;%d;%.0f;%s;%d;%s", d$id, d$user, d$ts, ifelse(is.na(d$channel), "", d$channel),
                     d$conv, format(d$rev, trim = TRUE)), con)
  close(con)
}
write_events(ev, file.path(dir, "events.csv"))
write_events(ev[order(ev$user), ], file.path(dir, "grouped.csv"))
# The events freed and the files written out to disk before any route is
# measured: a parent holding the events' gigabyte, or writing back hundreds
# of MB beside the first route, slowed the routes measured at the large size.
rm(ev)
invisible(gc())
system2("sync")
cat(sprintf("\n%s events, %s users, file %.0f MB; lookback 30 days, transform none; median of %d runs\n",
            format(n, big.mark = ",", scientific = FALSE), format(nusers, big.mark = ",", scientific = FALSE),
            file.size(file.path(dir, "events.csv")) / 1e6, reps))

floor_bin <- file.path(dir, "events_floor")
system2("g++", c("-O2", "-std=c++17", "-o", floor_bin, "bench/events_floor.cpp"))
median_run <- function(run) {   # run() gives c(wall, cpu, peak_mb, journeys); the run of median CPU
  r <- lapply(seq_len(reps), function(k) run())
  r[[order(vapply(r, `[`, 0, 2))[(reps + 1) %/% 2]]]
}
fl <- median_run(function() {
  x <- as.numeric(strsplit(system2(floor_bin, c(file.path(dir, "events.csv"), shQuote(";")), stdout = TRUE), " ")[[1]])
  c(x[3], x[4], NA, NA)
})
rows <- data.frame(route = "floor: read + split file", seconds = fl[1], cpu_s = fl[2], peak_mb = NA, journeys = NA)
rscript <- file.path(R.home("bin"), "Rscript")
for (route in c("frame", "frame_text", "file", "grouped")) {
  r <- median_run(function() {
    x <- strsplit(system2(rscript, c("bench/events.R", "child", route, dir), stdout = TRUE), " ")[[1]]
    as.numeric(x[c(2, 5, 3, 4)])
  })
  rows <- rbind(rows, data.frame(route = c(frame = "native, data frame", frame_text = "native, data frame, text ids",
                                           file = "native, file",
                                           grouped = "native, file grouped by user")[[route]],
                                 seconds = r[1], cpu_s = r[2], peak_mb = r[3], journeys = r[4]))
}

if (nzchar(Sys.getenv("TOUCHLANE_PG_HOST"))) {
  con <- DBI::dbConnect(RPostgreSQL::PostgreSQL(), host = Sys.getenv("TOUCHLANE_PG_HOST"),
                        user = Sys.getenv("TOUCHLANE_PG_USER"), dbname = "postgres")
  DBI::dbExecute(con, "SET client_min_messages = warning")
  DBI::dbExecute(con, "DROP TABLE IF EXISTS events")
  DBI::dbExecute(con, "CREATE TABLE events (id integer, \"user\" integer, ts double precision, channel text, conv integer, rev double precision)")
  psql <- file.path(Sys.getenv("PG_BIN"), "psql")
  t_load <- system.time(system2(psql, c("-q", "-h", Sys.getenv("TOUCHLANE_PG_HOST"), "-U", Sys.getenv("TOUCHLANE_PG_USER"),
                                        "-d", "postgres", "-c", shQuote(sprintf("\\copy events FROM '%s' WITH (FORMAT csv, DELIMITER ';', HEADER, NULL '')",
                                                                                 file.path(dir, "events.csv"))))))[["elapsed"]]
  DBI::dbExecute(con, "ANALYZE events")
  DBI::dbExecute(con, "SET work_mem = '256MB'")
  t_pg <- system.time(j <- do.call(journeys_from_db, c(list(con, "events", order_by = "id", time_type = "seconds"), jargs)))
  rows <- rbind(rows, data.frame(route = "PostgreSQL 15 query (work_mem 256MB)", seconds = t_pg[["elapsed"]],
                                 cpu_s = NA, peak_mb = NA, journeys = nrow(j)))
  cat(sprintf("PostgreSQL load with \\copy: %.1f s\n", t_load))
  DBI::dbExecute(con, "DROP TABLE events")
  DBI::dbDisconnect(con)
}
# Wall times suffer from other work on a shared machine; CPU seconds less so
# (the server's CPU is not counted for PostgreSQL).
cat(sprintf("load average at the end: %s\n", paste(readLines("/proc/loadavg"), collapse = "")))
rows$events_per_cpu_s <- round(n / rows$cpu_s)
rows$x_floor_wall <- round(rows$seconds / rows$seconds[1], 1)
rows$x_floor_cpu <- round(rows$cpu_s / rows$cpu_s[1], 1)
print(rows, row.names = FALSE, right = FALSE)
rows$events <- n
rows
}

main <- function() {
  sizes <- if (length(args) >= 2) matrix(as.numeric(args[seq_len(length(args) %/% 2 * 2)]), 2) else
    matrix(c(1e6, 1e5, 1e7, 1e6), 2)
  reps <- as.integer(Sys.getenv("TOUCHLANE_BENCH_REPS", "3"))
  options(width = 200)
  cat(sprintf("machine: %s, %d cores | commit %s\n", Sys.info()[["nodename"]], parallel::detectCores(),
              system("git rev-parse --short HEAD", intern = TRUE)))
  all <- lapply(seq_len(ncol(sizes)), function(k) one_size(sizes[1, k], sizes[2, k], reps))
  if (length(all) < 2) return(invisible())
  first <- all[[1]]
  last <- all[[length(all)]]
  cat(sprintf("\nCPU time per event at %s events over that at %s (1.0: linear)\n",
              format(last$events[1], big.mark = ",", scientific = FALSE),
              format(first$events[1], big.mark = ",", scientific = FALSE)))
  lin <- data.frame(route = first$route,
                    per_event_ratio = round((last$cpu_s / last$events) / (first$cpu_s / first$events), 2),
                    x_floor_small = first$x_floor_cpu, x_floor_large = last$x_floor_cpu)
  print(lin[!is.na(lin$per_event_ratio), ], row.names = FALSE, right = FALSE)
}
main()
