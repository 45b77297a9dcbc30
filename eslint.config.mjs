// ESLint for the wake page's scripts and the browser test (bin/test runs it).
//
// The page's scripts (tools/view/page/*.js) are fragments of one strict
// function body, run in the order page.html lists them, so each sees the
// top-level names of the others. A comment inside them would change the page,
// so the names each script offers the others are listed here: every script may
// use the names the others offer, and its own offered names count as used.
import js from "@eslint/js";
import globals from "globals";

const PAGE = "tools/view/page/";
const offeredBy = {
  "cells.js": ["escapeHtml", "number", "countOf", "magnitudeDigits", "threadRow"],
  "sorting.js": ["sortableHead", "sortOnHeadingClick", "markSortedHeading", "compareSorted"],
  "stacks.js": ["stackState", "stackKey", "hasStacks", "stacksToggle", "stackDetailRow"],
  "table.js": ["data", "state", "render"],
  "routines.js": [],
  "summary.js": ["resolutionText"],
  "timers.js": [],
  "tooltip.js": ["tip"],
  "flame.js": ["flameData", "flameStacksByKey", "mountThreadFlames", "hasFlame"],
  "filter.js": ["filteredThreads"],
  "compare.js": [],
};

function pageScript([file, offered]) {
  const fromOthers = Object.entries(offeredBy)
    .filter(([other]) => other !== file)
    .flatMap(([, names]) => names);
  return {
    files: [PAGE + file],
    languageOptions: {
      globals: Object.fromEntries(fromOthers.map((name) => [name, "readonly"])),
    },
    rules: offered.length === 0 ? {} : {
      "no-unused-vars": ["error", { varsIgnorePattern: `^(${offered.join("|")})$` }],
    },
  };
}

export default [
  { ignores: ["build/", "run/"] },
  js.configs.recommended,
  {
    files: [PAGE + "*.js"],
    languageOptions: {
      ecmaVersion: "latest",
      sourceType: "script",
      globals: globals.browser,
      parserOptions: { ecmaFeatures: { globalReturn: true, impliedStrict: true } },
    },
    rules: {
      // The scripts call it only on their own object literals, which cannot shadow it.
      "no-prototype-builtins": "off",
    },
  },
  ...Object.entries(offeredBy).map(pageScript),
  {
    files: ["tests/browser/*.mjs", "eslint.config.mjs"],
    languageOptions: { sourceType: "module", globals: globals.node },
  },
];
