// Reads a table with both independent readers (mdbtools' mdb-export and the
// npm package mdb-reader) and compares every row with a TSV file in the form
// of `ferrowane-mdb dump`: text with \t \n \r \\ escaped, \N for NULL, whole
// numbers, dates "yyyy-MM-dd HH:mm:ss". Used by scripts/windows-build.sh on
// the files the Windows build makes under Wine.
//
//   node same_as_tsv.mjs FILE TABLE EXPECTED.tsv
//
// Exit status 0 when both readers give back exactly the expected rows.
import MDBReader from "mdb-reader";
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";

const [file, table, expectedPath] = process.argv.slice(2);
const expected = readFileSync(expectedPath, "utf8").split("\n").filter((l) => l !== "");

function escapeText(s) {
  return s.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
}

function readerLine(row, columns) {
  return columns
    .map((c) => {
      const v = row[c.name];
      if (v === null || v === undefined) return "\\N";
      if (v instanceof Date) return v.toISOString().slice(0, 19).replace("T", " ");
      if (typeof v === "string") return escapeText(v);
      return String(v);
    })
    .join("\t");
}

function compare(reader, lines) {
  if (lines.length !== expected.length) {
    console.error(`${reader}: ${lines.length} rows in ${file}, expected ${expected.length}`);
    return false;
  }
  for (let i = 0; i < lines.length; ++i) {
    if (lines[i] !== expected[i]) {
      console.error(`${reader}: row ${i + 1} of ${file} differs\n  read:     ${lines[i]}\n  expected: ${expected[i]}`);
      return false;
    }
  }
  return true;
}

const dateFormat = "%Y-%m-%d %H:%M:%S";
const exported = execFileSync(
  "mdb-export",
  ["-H", "-Q", "-e", "-d", "\\t", "-R", "\\n", "-0", "\\N", "-D", dateFormat, "-T", dateFormat, file, table],
  { encoding: "utf8", maxBuffer: 1 << 28 },
);
const byMdbtools = compare("mdbtools", exported.split("\n").filter((l) => l !== ""));

const db = new MDBReader(readFileSync(file));
const t = db.getTable(table);
const columns = t.getColumns();
const byMdbReader = compare("mdb-reader", t.getData().map((row) => readerLine(row, columns)));

if (byMdbtools && byMdbReader) console.log(`${file}: ${expected.length} rows read back exactly by mdbtools and mdb-reader`);
process.exit(byMdbtools && byMdbReader ? 0 : 1);
