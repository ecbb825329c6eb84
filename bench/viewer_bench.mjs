// The viewer benchmark's driver, run by bench/viewer_bench.sh with the browser tests' Playwright
// client: node viewer_bench.mjs ZENTRAK_HOST PDF RUNS
import { spawn } from "node:child_process";
import fs from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const e2e = path.join(path.dirname(fileURLToPath(import.meta.url)), "..", "tests", "e2e");
const { chromium } = createRequire(path.join(e2e, "package.json"))("playwright-core");

const [hostBinary, pdfFile, runsText] = process.argv.slice(2);
const runs = Number(runsText) || 5;
const host = spawn(hostBinary, ["--port", "0", "--no-prompt"], { stdio: ["ignore", "pipe", "inherit"] });
const base = await new Promise((resolve, reject) => {
  let seen = "";
  host.stdout.on("data", (d) => {
    seen += d;
    const m = seen.match(/listening on (http:\/\/127\.0\.0\.1:\d+\/)/);
    if (m) resolve(m[1]);
  });
  host.on("exit", (code) => reject(new Error(`zentrak-host exited with ${code}`)));
});
const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox", "--headless", "--disable-gpu"] });
try {
  const page = await browser.newPage();
  await page.goto(`${base}demo`);
  const b64 = fs.readFileSync(pdfFile).toString("base64");
  console.log(`preview of ${(fs.statSync(pdfFile).size / 1e6).toFixed(1)} MB, 200 pages; ms per run`);
  console.log("call\tfirst page\tall laid out");
  for (let i = 0; i < runs; i++) {
    const t = await page.evaluate((doc) => new Promise((resolve) => {
      const v = document.getElementById("viewer");
      v.removeAttribute("data-pages");
      const t0 = performance.now();
      let painted = 0;
      const onPaint = () => { if (!painted && v.shadowRoot.querySelector("canvas[data-page='1']")?.width) painted = performance.now() - t0; };
      v.addEventListener("OnPaint", onPaint);
      v.preview(doc);
      const call = performance.now() - t0;
      const poll = () => {
        if (painted && v.getAttribute("data-pages") === "200") {
          v.removeEventListener("OnPaint", onPaint);
          resolve([call, painted, performance.now() - t0]);
        } else setTimeout(poll, 5);
      };
      poll();
    }), b64);
    console.log(t.map((n) => n.toFixed(0)).join("\t"));
  }
} finally {
  await browser.close();
  host.kill("SIGTERM");
}
