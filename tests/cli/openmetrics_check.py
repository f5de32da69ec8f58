#!/usr/bin/python3
"""Reads a metrics file as a scraper does, with prometheus_client's parsers (Debian's
python3-prometheus-client), not with anything of cormapmp's own. A FILE named *.om is OpenMetrics:
read by the OpenMetrics parser (strict: "# EOF" and all), and by the Prometheus text parser as an older
scraper would, without an error; any other FILE is the Prometheus text format, read by the Prometheus
text parser.

  openmetrics_check.py dump FILE
      parses FILE and prints its samples as JSON: [{family, type, unit, help, name, labels, value}, ...]
  openmetrics_check.py watch FILE STOPFILE
      reads and parses FILE again and again until STOPFILE exists, as a scraper would while the
      file is being replaced; prints {"reads": N, "versions": M} (M: how many different contents
      it saw). Any read that does not parse ends it with exit status 1 and the text it read.
Exit status 3 when prometheus_client is missing.
"""
import json
import os
import sys
import time

try:
    from prometheus_client.openmetrics.parser import text_string_to_metric_families as openmetrics
    from prometheus_client.parser import text_string_to_metric_families as prometheus
except ImportError:
    print("prometheus_client is missing (Debian: python3-prometheus-client)", file=sys.stderr)
    sys.exit(3)


def parse(text, path):
    if path.endswith(".om"):
        families = list(openmetrics(text))
        list(prometheus(text))
        return families
    return list(prometheus(text))


def dump(path):
    with open(path, encoding="utf-8") as f:
        families = parse(f.read(), path)
    samples = []
    for family in families:
        for s in family.samples:
            samples.append({"family": family.name, "type": family.type, "unit": family.unit,
                            "help": family.documentation, "name": s.name, "labels": s.labels,
                            "value": s.value})
    print(json.dumps(samples))


def watch(path, stop):
    reads = 0
    versions = 0
    last = None
    while not os.path.exists(stop):
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except FileNotFoundError:
            time.sleep(0.001)
            continue
        try:
            parse(text, path)
        except Exception as error:  # noqa: BLE001 - any parse failure is the finding
            print(json.dumps({"error": str(error), "text": text}))
            sys.exit(1)
        reads += 1
        if text != last:
            versions += 1
            last = text
        time.sleep(0.0005)
    print(json.dumps({"reads": reads, "versions": versions}))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "dump":
        dump(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "watch":
        watch(sys.argv[2], sys.argv[3])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
