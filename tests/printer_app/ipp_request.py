#!/usr/bin/env python3
"""Sends one IPP request from a chosen local address, with attribute values as raw bytes
(ipptool can neither bind a source address nor send a line break in a name).

  ipp_request.py [--source ADDR] URL OPERATION [NAME=TAG:VALUE]... [--file DOC]

TAG is name, text, keyword, uri, integer, boolean, mime or octet; VALUE may hold \\n escapes; a
name given twice makes two attributes; the pairs after --job go in the job attributes, after --op
back in the operation ones; --gzip sends the body with HTTP Content-Encoding gzip; --job-uri names the
job by a job-uri made of URL and the job-id pair's value instead of printer-uri and job-id. Prints "HTTP <status> IPP <status-code hex>", then "job-id <id>" and the job's job-state, job-state-reasons
and job-state-message when the answer has them, and exits 0 whatever the status.
"""
import gzip
import http.client
import struct
import sys
import urllib.parse

OPERATIONS = {"Print-Job": 0x0002, "Validate-Job": 0x0004, "Create-Job": 0x0005, "Send-Document": 0x0006, "Get-Job-Attributes": 0x0009, "Cancel-Job": 0x0008, "Get-Jobs": 0x000A, "Disable-Printer": 0x0022,
              "Enable-Printer": 0x0023, "Cancel-Current-Job": 0x002D, "Identify-Printer": 0x003C}
TAGS = {"integer": 0x21, "octet": 0x30, "text": 0x41, "name": 0x42, "keyword": 0x44, "uri": 0x45,
        "boolean": 0x22, "charset": 0x47, "language": 0x48, "mime": 0x49}


def attribute(tag, name, value):
    data = (struct.pack(">i", int(value)) if tag == "integer" else bytes([value == "true"]) if tag == "boolean"
            else value.encode("utf-8", "surrogateescape"))
    return bytes([TAGS[tag]]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(data)) + data


def main(argv):
    source = None
    document = b""
    gzipped = "--gzip" in argv
    by_job_uri = "--job-uri" in argv
    argv = [arg for arg in argv if arg not in ("--gzip", "--job-uri")]
    if argv[:1] == ["--source"]:
        source, argv = argv[1], argv[2:]
    if "--file" in argv:
        at = argv.index("--file")
        with open(argv[at + 1], "rb") as file:
            document = file.read()
        argv = argv[:at] + argv[at + 2:]
    url, operation, pairs = argv[0], argv[1], argv[2:]
    body = struct.pack(">BBHI", 2, 0, OPERATIONS[operation], 1) + b"\x01"
    body += attribute("charset", "attributes-charset", "utf-8")
    body += attribute("language", "attributes-natural-language", "en")
    if by_job_uri:
        job_id = next(pair.split(":", 1)[1] for pair in pairs if pair.startswith("job-id="))
        pairs = [pair for pair in pairs if not pair.startswith("job-id=")]
        body += attribute("uri", "job-uri", url.replace("http://", "ipp://") + "/" + job_id)
    else:
        body += attribute("uri", "printer-uri", url.replace("http://", "ipp://"))
    for pair in pairs:
        if pair == "--job":
            body += b"\x02"
            continue
        if pair == "--op":
            body += b"\x01"
            continue
        name, typed = pair.split("=", 1)
        tag, value = typed.split(":", 1)
        body += attribute(tag, name, value.replace("\\n", "\n"))
    body += b"\x03" + document
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30,
                                            source_address=(source, 0) if source else None)
    headers = {"Content-Type": "application/ipp"}
    if gzipped:
        body = gzip.compress(body)
        headers["Content-Encoding"] = "gzip"
    connection.request("POST", parts.path, body, headers)
    response = connection.getresponse()
    reply = response.read()
    status = struct.unpack(">H", reply[2:4])[0] if len(reply) >= 4 else 0
    print(f"HTTP {response.status} IPP {status:04x}")
    for name in (b"job-state", b"job-state-reasons", b"job-state-message"):
        key = struct.pack(">H", len(name)) + name
        if key in reply:
            at = reply.index(key) + len(key)
            length = struct.unpack(">H", reply[at:at + 2])[0]
            raw = reply[at + 2:at + 2 + length]
            print(name.decode(), struct.unpack(">i", raw)[0] if name == b"job-state" else raw.decode(errors="replace"))
    job_id = b"\x21\x00\x06job-id\x00\x04"
    if job_id in reply:
        at = reply.index(job_id) + len(job_id)
        print(f"job-id {struct.unpack('>i', reply[at:at + 4])[0]}")


if __name__ == "__main__":
    main(sys.argv[1:])
