// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Validates a CycloneDX 1.6 JSON bill of materials with the format's own
// library, strictly (no property the schema does not name); prints what is
// wrong and exits 1 where anything is.
//   node validate_sbom.js BOM.json      (with @cyclonedx/cyclonedx-library and
//                                        its JSON validators installed beside it)
const { Validation } = require("@cyclonedx/cyclonedx-library");
const fs = require("fs");

new Validation.JsonStrictValidator("1.6")
    .validate(fs.readFileSync(process.argv[2], "utf8"))
    .then((errors) => {
        if (errors !== null) {
            console.log(JSON.stringify(errors, null, 2));
            process.exit(1);
        }
        console.log(`${process.argv[2]}: valid CycloneDX 1.6`);
    });
