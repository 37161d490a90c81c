"""Reads an Atom document from stdin with feedparser, as a feed reader would, and prints what
it understood: a line for the feed, then a line per entry, fields separated by TABs."""
import sys
import time

import feedparser

feed = feedparser.parse(sys.stdin.buffer.read())
if feed.bozo:
    print("malformed:", feed.bozo_exception)
    sys.exit(1)
print("feed", feed.version, feed.feed.title, feed.feed.link, sep="\t")
for entry in feed.entries:
    print("entry", entry.title, entry.link, entry.id,
          time.strftime("%Y-%m-%dT%H:%M:%SZ", entry.updated_parsed),
          entry.content[0].value.replace("\n", "\\n"), sep="\t")
