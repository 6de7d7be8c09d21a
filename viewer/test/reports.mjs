// Shared by the tests of vorlith's reports: where the executable is.
import fs from 'node:fs';
import path from 'node:path';
import { repoDir } from './browser.mjs';

// The vorlith executable: VORLITH_BIN (relative to where npm was started), else build/vorlith.
export function vorlithBin() {
  const given = process.env.VORLITH_BIN;
  const bin = given ? path.resolve(process.env.INIT_CWD || process.cwd(), given) : path.join(repoDir, 'build', 'vorlith');
  return fs.existsSync(bin) ? bin : null;
}
