# The Ansible collection in contrib/ansible: its modules' unit tests (pytest),
# ansible-lint over the collection, and the plant lab (ansible-playbook over
# SSH to cell PCs with simulated drives, in network namespaces; root only).
# Each is there when its tools are; otherwise one test says what is missing.
# Label "ansible".
set(tovrin_ansible_dir ${CMAKE_CURRENT_SOURCE_DIR}/contrib/ansible)

# The Python that Ansible runs on (Debian's ansible-core is for
# /usr/bin/python3, which may not be the first python3 in the PATH).
find_program(TOVRIN_ANSIBLE_PLAYBOOK ansible-playbook)
find_program(TOVRIN_ANSIBLE_LINT ansible-lint)
find_program(tovrin_python3 python3 NO_CACHE)
set(tovrin_ansible_python)
foreach(python /usr/bin/python3 ${tovrin_python3})
  if(EXISTS ${python})
    execute_process(COMMAND ${python} -c "import ansible, pytest" RESULT_VARIABLE status
                    OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      set(tovrin_ansible_python ${python})
      break()
    endif()
  endif()
endforeach()

set(tovrin_ansible_missing)
if(NOT tovrin_ansible_python)
  list(APPEND tovrin_ansible_missing "a python3 with ansible-core and pytest (python3-pytest)")
endif()
if(NOT TOVRIN_ANSIBLE_PLAYBOOK)
  list(APPEND tovrin_ansible_missing "ansible-playbook (ansible-core)")
endif()

if(tovrin_ansible_missing)
  list(JOIN tovrin_ansible_missing " and " missing)
  add_test(NAME ansible.unavailable COMMAND sh -c "echo 'Ansible collection not tested: ${missing} missing (scripts/install-packages ansible)'; exit 77")
  set_tests_properties(ansible.unavailable PROPERTIES SKIP_RETURN_CODE 77 LABELS ansible)
  return()
endif()

add_test(NAME ansible.unit
         COMMAND ${tovrin_ansible_python} -m pytest -q -p no:cacheprovider ${tovrin_ansible_dir}/tests/unit)
set_tests_properties(ansible.unit PROPERTIES LABELS ansible TIMEOUT 120
                                             ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)

if(TOVRIN_ANSIBLE_LINT)
  add_test(NAME ansible.lint COMMAND ${tovrin_ansible_dir}/tests/lint.sh ${CMAKE_CURRENT_BINARY_DIR}/ansible-lint-cache)
  # Not beside the lab: both start Ansible, and a lint that started beside
  # the lab's set-up once found no working ansible.
  set_tests_properties(ansible.lint PROPERTIES LABELS ansible TIMEOUT 300
                                               RESOURCE_LOCK tovrin_ansible)
else()
  add_test(NAME ansible.lint COMMAND sh -c "echo 'ansible-lint not installed (scripts/install-packages ansible)'; exit 77")
  set_tests_properties(ansible.lint PROPERTIES LABELS ansible SKIP_RETURN_CODE 77)
endif()

if(TARGET drivesim)
  add_test(NAME ansible.lab
           COMMAND ${tovrin_ansible_python} ${tovrin_ansible_dir}/tests/lab/plant_lab.py
                   --tovrin $<TARGET_FILE:tovrin> --drivesim $<TARGET_FILE:drivesim>
                   --collection ${tovrin_ansible_dir})
  # Two plants' ansible-playbook runs side by side, about three minutes; the
  # lab stops itself after eight. It runs beside other tests: none of its
  # checks depends on timing (a faulty drive is silent for good, the others
  # answer within the loader's tries, as in the end-to-end tests).
  set_tests_properties(ansible.lab PROPERTIES LABELS ansible TIMEOUT 600 SKIP_RETURN_CODE 77
                                              ENVIRONMENT PYTHONDONTWRITEBYTECODE=1
                                              RESOURCE_LOCK tovrin_ansible)
endif()
